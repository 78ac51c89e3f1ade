#pragma once

#include "base/FileURL.h"
#include "update/UpdateReceipt.h"

#include <optional>

namespace quorvel {

// Where update recovery works: the host app's bundle and the updates directory.
struct UpdateRecoveryPaths {
    FileURL applicationBundle;
    FileURL updatesDirectory;

    bool operator==(const UpdateRecoveryPaths&) const = default;

    static constexpr const char* receiptFileName = "receipt.json";
    static constexpr const char* holdMarkerFileName = "QUORVEL_UPDATE_HOLD";

    // "<application support>/com.quorvel.desktop/updates" for this bundle; absent without an
    // application-support directory (the launcher then runs without recovery).
    static std::optional<UpdateRecoveryPaths> production(const FileURL& applicationBundle);

    FileURL receiptURL() const { return updatesDirectory.appendingPathComponent(receiptFileName); }
    FileURL holdMarkerURL() const {
        return updatesDirectory.appendingPathComponent(holdMarkerFileName);
    }

    // The receipt names files by path; recovery deletes or unpacks only files that pass this rule:
    // a direct child of an updates directory (named "updates"), no "recordings" component
    // anywhere, and not the receipt, the hold marker, "", "." or "..". Touches no file.
    bool isRemovableUpdateFile(const FileURL& url) const;

    // The update artifact that a cleanup deletes: the receipt's artifact path when it is given
    // and passes the rule above, else "Quorvel_<toVersion>.app.tar.gz" in the updates directory
    // (the rule is applied to that name only when deleting).
    FileURL stagedArtifact(const UpdateReceipt& receipt) const;
};

} // namespace quorvel

#pragma once

// Interface of the update recovery engine as the launcher runtime uses it. The engine itself
// (rollback, cleanup, hold marker) is filled in behind this interface.

#include "base/FileURL.h"
#include "base/InternetDateTime.h"

#include <memory>
#include <optional>
#include <string>

namespace quorvel {

struct UpdateRecoveryPaths {
    FileURL applicationBundle;
    FileURL updatesDirectory;

    bool operator==(const UpdateRecoveryPaths&) const = default;

    // "<application support>/com.quorvel.desktop/updates" for this bundle; absent without an
    // application-support directory.
    static std::optional<UpdateRecoveryPaths> production(const FileURL& applicationBundle);
};

// What recover(now) did. description() is the textual form the launcher logs.
struct UpdateRecoveryOutcome {
    enum class Kind { idle, rolledBack, rollbackFailed, cleaned, unrecoverable };
    Kind kind = Kind::idle;

    bool operator==(const UpdateRecoveryOutcome&) const = default;
    std::string description() const;
};

class UpdateRecoveryHost {
public:
    virtual ~UpdateRecoveryHost() = default;
};

std::shared_ptr<UpdateRecoveryHost> makeSystemUpdateRecoveryHost();

class UpdateRecovery {
public:
    UpdateRecovery(UpdateRecoveryPaths paths, std::shared_ptr<UpdateRecoveryHost> host);

    const UpdateRecoveryPaths& paths() const { return paths_; }
    UpdateRecoveryOutcome recover(TimePoint now) const;

private:
    UpdateRecoveryPaths paths_;
    std::shared_ptr<UpdateRecoveryHost> host_;
};

} // namespace quorvel

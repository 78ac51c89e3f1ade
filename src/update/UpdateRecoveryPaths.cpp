#include "update/UpdateRecoveryPaths.h"

#include "platform/ApplicationSupport.h"

#include <string_view>

namespace quorvel {

namespace {

bool hasComponent(std::string_view path, std::string_view wanted) {
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == wanted)
            return true;
        start = end + 1;
    }
    return false;
}

bool isReservedName(std::string_view name) {
    return name.empty() || name == "." || name == ".." ||
           name == UpdateRecoveryPaths::receiptFileName ||
           name == UpdateRecoveryPaths::holdMarkerFileName;
}

} // namespace

std::optional<UpdateRecoveryPaths>
UpdateRecoveryPaths::production(const FileURL& applicationBundle) {
    auto folder = quorvelApplicationSupportFolder();
    if (!folder)
        return std::nullopt;
    return UpdateRecoveryPaths{applicationBundle, folder->appendingPathComponent("updates")};
}

bool UpdateRecoveryPaths::isRemovableUpdateFile(const FileURL& url) const {
    FileURL updates = updatesDirectory.standardized();
    if (updates.lastPathComponent() != "updates")
        return false;
    FileURL standardized = url.standardized();
    if (standardized.deletingLastPathComponent().path != updates.path)
        return false;
    // Both the path as written and its standardised form: "updates/recordings/../x" names a
    // direct child, but it was aimed through the recordings folder and is refused.
    if (hasComponent(url.path, "recordings") || hasComponent(standardized.path, "recordings"))
        return false;
    // The last component as written catches a path that ends in "." or "..".
    return !isReservedName(url.lastPathComponent()) &&
           !isReservedName(standardized.lastPathComponent());
}

FileURL UpdateRecoveryPaths::stagedArtifact(const UpdateReceipt& receipt) const {
    if (receipt.artifactPath && !receipt.artifactPath->empty()) {
        FileURL artifact = FileURL::fromPath(*receipt.artifactPath);
        if (isRemovableUpdateFile(artifact))
            return artifact.standardized();
    }
    return updatesDirectory.appendingPathComponent("Quorvel_" + receipt.toVersion + ".app.tar.gz");
}

} // namespace quorvel

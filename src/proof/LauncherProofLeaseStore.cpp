#include "proof/LauncherProofLeaseStore.h"

namespace quorvel {

std::optional<FileURL> LauncherProofLeaseStore::canonicalExecutableURL(const std::optional<FileURL>& url) {
    if (!url || !url->isAbsolute()) return std::nullopt;
    FileURL standardized = url->standardized();
    if (standardized.path != url->path || standardized.path == "/") return std::nullopt;
    return standardized;
}

} // namespace quorvel

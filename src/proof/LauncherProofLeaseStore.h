#pragma once

#include "base/FileURL.h"

#include <optional>

namespace quorvel {

// The store of the proof lease that the host app writes and the launcher claims.
class LauncherProofLeaseStore {
public:
    // The one rule for an executable path in canonical form: a file path that begins with "/",
    // is not "/", and that standardisation leaves unchanged. Symbolic links are not resolved.
    static std::optional<FileURL> canonicalExecutableURL(const std::optional<FileURL>& url);
};

} // namespace quorvel

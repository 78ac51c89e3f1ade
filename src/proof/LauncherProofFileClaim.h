#pragma once

#include "base/Bytes.h"
#include "base/FileURL.h"

namespace quorvel {

// A proof file taken away from its path: where it lies now (its hidden claimed name beside the
// original path) and the bytes read from it when it was claimed.
struct LauncherProofFileClaim {
    FileURL claimedURL;
    Bytes data;

    bool operator==(const LauncherProofFileClaim&) const = default;
};

} // namespace quorvel

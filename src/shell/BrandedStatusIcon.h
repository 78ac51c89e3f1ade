#pragma once

#include "shell/StatusImage.h"

#include <optional>

namespace quorvel {

// The Quorvel glyph as a 16 by 16 point template image with 22, 44 and 66 pixel representations,
// whose pixels the build decoded from assets/status-icon-*.png and compiled in.
struct BrandedStatusIcon {
    static constexpr double pointSize = 16;

    // Nothing only if the compiled-in pixels do not fill their sizes (a broken build).
    static std::optional<StatusImage> make();
};

} // namespace quorvel

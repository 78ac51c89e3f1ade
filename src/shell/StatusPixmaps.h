#pragma once

#include "shell/StatusImage.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace quorvel {

// One pixmap as status areas take it: 32-bit ARGB per pixel in network byte order (bytes A, R, G,
// B), straight alpha, rows top to bottom without padding.
struct ArgbPixmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> argb;
    bool operator==(const ArgbPixmap&) const = default;
};

// The colour a template image is drawn in: a neutral grey that reads on light and dark panels.
inline constexpr std::uint8_t templateTint[3] = {0xBE, 0xBE, 0xBE};

// One pixmap per representation of the icon, with the state glyph of that name composited into its
// lower right corner behind a clear gap. An empty or unknown name leaves the icon alone.
std::vector<ArgbPixmap> composeStatusPixmaps(const StatusImage& icon, std::string_view badge);
// The same pixmaps with every alpha scaled by opacity (0 to 1).
std::vector<ArgbPixmap> withOpacity(const std::vector<ArgbPixmap>& pixmaps, double opacity);

} // namespace quorvel

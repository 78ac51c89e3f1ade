#pragma once

#include <cstdint>

namespace quorvel {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// WCAG 2.1 relative luminance of an sRGB colour, 0 (black) to 1 (white).
double relativeLuminance(Rgb colour);
// WCAG 2.1 contrast ratio of two opaque colours, 1 to 21.
double contrastRatio(Rgb a, Rgb b);

} // namespace quorvel

#include "shell/ColourContrast.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

double relativeLuminance(Rgb colour) {
    auto channel = [](std::uint8_t c) {
        double v = c / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.r) + 0.7152 * channel(colour.g) + 0.0722 * channel(colour.b);
}

double contrastRatio(Rgb a, Rgb b) {
    double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace quorvel

#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

// Pixels in rows top to bottom, four bytes R, G, B, A each, straight (not premultiplied) alpha.
struct RgbaBitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
    bool operator==(const RgbaBitmap&) const = default;
};

// An image with several pixel representations of one size in points. A template image is drawn
// by its alpha alone, in the colour the status area chooses.
struct StatusImage {
    double pointWidth = 0;
    double pointHeight = 0;
    std::vector<RgbaBitmap> representations;
    bool isTemplate = false;
    std::string accessibilityDescription;
    bool operator==(const StatusImage&) const = default;
};

} // namespace quorvel

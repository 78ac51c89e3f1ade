#pragma once

#include "shell/StatusImage.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvel {

// The Quorvel glyph as a 16 by 16 point template image with 22, 44 and 66 pixel representations,
// decoded from the PNG files embedded at build time.
struct BrandedStatusIcon {
    static constexpr double pointSize = 16;

    // The three embedded PNG files, smallest first.
    static std::vector<std::span<const std::uint8_t>> pngs();
    // Nothing when any of the files does not decode.
    static std::optional<StatusImage> make();
    static std::optional<StatusImage> make(const std::vector<std::span<const std::uint8_t>>& files);
};

// Decodes a PNG file to 8-bit RGBA with straight alpha; nothing when it is not a valid PNG.
std::optional<RgbaBitmap> decodePng(std::span<const std::uint8_t> file);

} // namespace quorvel

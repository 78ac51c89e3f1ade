#pragma once

#include "shell/StatusImage.h"

#include <cstdint>
#include <optional>
#include <span>

namespace quorvel {

// Decodes a PNG file to 8-bit RGBA with straight alpha; nothing when it is not a valid PNG or
// larger than 4096 pixels a side. The build uses it to turn the status glyph's files into pixels,
// so that the library decodes nothing at run time.
std::optional<RgbaBitmap> decodePng(std::span<const std::uint8_t> file);

} // namespace quorvel

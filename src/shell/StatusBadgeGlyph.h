#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvel {

// Coverage of a square glyph, one byte per pixel (0 empty, 255 full), rows top to bottom.
struct AlphaMask {
    int size = 0;
    std::vector<std::uint8_t> alpha;
    std::uint8_t at(int x, int y) const { return alpha[static_cast<std::size_t>(y * size + x)]; }
};

// Our own small state glyphs, one per symbol name the status presentation uses ("ellipsis",
// "record.circle.fill", "exclamationmark.triangle.fill", "pause.fill", "arrow.down.circle",
// "arrow.up.circle.fill", "exclamationmark.octagon.fill", "questionmark.circle"), drawn at any
// pixel size. Nothing for any other name.
bool hasBadgeGlyph(std::string_view symbolName);
// Every name above, in a fixed order.
std::vector<std::string_view> badgeGlyphNames();
std::optional<AlphaMask> badgeGlyph(std::string_view symbolName, int size);

} // namespace quorvel

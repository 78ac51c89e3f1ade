#include "shell/StatusBadgeGlyph.h"

#include <array>
#include <cmath>

namespace quorvel {

namespace {

// Each glyph is a coverage test over the unit square (x right, y down), sampled 4 by 4 per pixel.

bool disc(double x, double y, double cx, double cy, double r) {
    return std::hypot(x - cx, y - cy) <= r;
}

bool ring(double x, double y, double inner, double outer) {
    double r = std::hypot(x - 0.5, y - 0.5);
    return r >= inner && r <= outer;
}

bool box(double x, double y, double x0, double y0, double x1, double y1) {
    return x >= x0 && x <= x1 && y >= y0 && y <= y1;
}

bool triangle(double x, double y, double ax, double ay, double bx, double by, double cx,
              double cy) {
    auto side = [&](double px, double py, double qx, double qy) {
        return (qx - px) * (y - py) - (qy - py) * (x - px);
    };
    double d1 = side(ax, ay, bx, by), d2 = side(bx, by, cx, cy), d3 = side(cx, cy, ax, ay);
    bool negative = d1 < 0 || d2 < 0 || d3 < 0;
    bool positive = d1 > 0 || d2 > 0 || d3 > 0;
    return !(negative && positive);
}

// A regular octagon of inradius r: its diagonal edges lie at distance r from the centre too.
bool octagon(double x, double y, double r) {
    double dx = std::abs(x - 0.5), dy = std::abs(y - 0.5);
    return dx <= r && dy <= r && dx + dy <= r * 1.4142135623730951;
}

bool exclamation(double x, double y, double top, double bottom) {
    return box(x, y, 0.44, top, 0.56, bottom) || disc(x, y, 0.5, bottom + 0.13, 0.07);
}

bool upArrow(double x, double y) {
    return box(x, y, 0.44, 0.42, 0.56, 0.74) || triangle(x, y, 0.5, 0.22, 0.28, 0.47, 0.72, 0.47);
}

bool downArrow(double x, double y) {
    return box(x, y, 0.44, 0.26, 0.56, 0.58) || triangle(x, y, 0.5, 0.78, 0.28, 0.53, 0.72, 0.53);
}

bool questionMark(double x, double y) {
    double r = std::hypot(x - 0.5, y - 0.4);
    bool hook = r >= 0.09 && r <= 0.18 && (y <= 0.42 || x >= 0.5) && !(x < 0.5 && y > 0.4);
    return hook || box(x, y, 0.44, 0.52, 0.56, 0.63) || disc(x, y, 0.5, 0.75, 0.065);
}

struct Glyph {
    std::string_view name;
    bool (*covers)(double x, double y);
};

const std::array<Glyph, 8> glyphs{{
    {"ellipsis",
     [](double x, double y) {
         return disc(x, y, 0.18, 0.5, 0.11) || disc(x, y, 0.5, 0.5, 0.11) ||
                disc(x, y, 0.82, 0.5, 0.11);
     }},
    {"record.circle.fill",
     [](double x, double y) { return ring(x, y, 0.0, 0.48) && !ring(x, y, 0.26, 0.34); }},
    {"exclamationmark.triangle.fill",
     [](double x, double y) {
         return triangle(x, y, 0.5, 0.04, 0.98, 0.92, 0.02, 0.92) && !exclamation(x, y, 0.32, 0.62);
     }},
    {"pause.fill",
     [](double x, double y) {
         return box(x, y, 0.2, 0.12, 0.4, 0.88) || box(x, y, 0.6, 0.12, 0.8, 0.88);
     }},
    {"arrow.down.circle",
     [](double x, double y) { return ring(x, y, 0.38, 0.48) || downArrow(x, y); }},
    {"arrow.up.circle.fill",
     [](double x, double y) { return ring(x, y, 0.0, 0.48) && !upArrow(x, y); }},
    {"exclamationmark.octagon.fill",
     [](double x, double y) { return octagon(x, y, 0.48) && !exclamation(x, y, 0.22, 0.56); }},
    {"questionmark.circle",
     [](double x, double y) { return ring(x, y, 0.39, 0.48) || questionMark(x, y); }},
}};

const Glyph* find(std::string_view name) {
    for (const auto& glyph : glyphs) {
        if (glyph.name == name)
            return &glyph;
    }
    return nullptr;
}

} // namespace

bool hasBadgeGlyph(std::string_view symbolName) {
    return find(symbolName) != nullptr;
}

std::vector<std::string_view> badgeGlyphNames() {
    std::vector<std::string_view> names;
    for (const auto& glyph : glyphs)
        names.push_back(glyph.name);
    return names;
}

std::optional<AlphaMask> badgeGlyph(std::string_view symbolName, int size) {
    const Glyph* glyph = find(symbolName);
    if (!glyph || size <= 0)
        return std::nullopt;
    constexpr int samples = 4;
    AlphaMask mask;
    mask.size = size;
    mask.alpha.resize(static_cast<std::size_t>(size * size));
    for (int j = 0; j < size; ++j) {
        for (int i = 0; i < size; ++i) {
            int hits = 0;
            for (int sj = 0; sj < samples; ++sj) {
                for (int si = 0; si < samples; ++si) {
                    double x = (i + (si + 0.5) / samples) / size;
                    double y = (j + (sj + 0.5) / samples) / size;
                    hits += glyph->covers(x, y) ? 1 : 0;
                }
            }
            mask.alpha[static_cast<std::size_t>(j * size + i)] = static_cast<std::uint8_t>(
                (hits * 255 + samples * samples / 2) / (samples * samples));
        }
    }
    return mask;
}

} // namespace quorvel

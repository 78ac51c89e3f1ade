#include "shell/StatusPixmaps.h"

#include "shell/StatusBadgeGlyph.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

struct Pixel {
    double a, r, g, b; // straight alpha, all in 0..1
};

Pixel over(const Pixel& top, const Pixel& bottom) {
    double a = top.a + bottom.a * (1 - top.a);
    if (a <= 0)
        return {0, 0, 0, 0};
    auto mix = [&](double t, double u) { return (t * top.a + u * bottom.a * (1 - top.a)) / a; };
    return {a, mix(top.r, bottom.r), mix(top.g, bottom.g), mix(top.b, bottom.b)};
}

std::uint8_t byte(double unit) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(unit, 0.0, 1.0) * 255.0));
}

constexpr Rgb darkInk{0x32, 0x32, 0x32};
constexpr Rgb lightInk{0xF2, 0xF2, 0xF2};

ArgbPixmap compose(const RgbaBitmap& bitmap, bool isTemplate, std::string_view badge,
                   const StatusInk& ink) {
    const int w = bitmap.width, h = bitmap.height;
    const int side = std::min(w, h);
    const int badgeSize = std::max(1, static_cast<int>(std::lround(side * 0.5)));
    const int gap = std::max(1, side / 22);
    const int x0 = w - badgeSize, y0 = h - badgeSize;
    auto mask = badgeGlyph(badge, badgeSize);

    // Coverage of the badge grown by the gap: the icon is cleared there so the badge stands apart.
    auto badgeAt = [&](int x, int y) -> double {
        if (!mask)
            return 0;
        int bx = x - x0, by = y - y0;
        if (bx < 0 || by < 0 || bx >= badgeSize || by >= badgeSize)
            return 0;
        return mask->at(bx, by) / 255.0;
    };
    auto haloAt = [&](int x, int y) -> double {
        if (!mask)
            return 0;
        double strongest = 0;
        for (int dy = -gap; dy <= gap; ++dy) {
            for (int dx = -gap; dx <= gap; ++dx)
                strongest = std::max(strongest, badgeAt(x + dx, y + dy));
        }
        return strongest;
    };

    auto unit = [](Rgb c) { return Pixel{1, c.r / 255.0, c.g / 255.0, c.b / 255.0}; };
    const Pixel tint = unit(ink.glyph);
    std::vector<Pixel> drawn(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                             static_cast<std::size_t>(x)) *
                            4;
            Pixel icon{bitmap.rgba[i + 3] / 255.0, bitmap.rgba[i] / 255.0,
                       bitmap.rgba[i + 1] / 255.0, bitmap.rgba[i + 2] / 255.0};
            if (isTemplate)
                icon = {icon.a, tint.r, tint.g, tint.b};
            Pixel result = icon;
            if (mask) {
                result.a *= 1 - haloAt(x, y);
                result = over({badgeAt(x, y), tint.r, tint.g, tint.b}, result);
            }
            drawn[i / 4] = result;
        }
    }

    // The halo: the drawing's own coverage grown by the gap, in the halo colour, beneath it.
    ArgbPixmap out;
    out.width = w;
    out.height = h;
    out.argb.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    auto at = [&](int x, int y) -> const Pixel& {
        return drawn[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                     static_cast<std::size_t>(x)];
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Pixel result = at(x, y);
            if (isTemplate && ink.halo) {
                double grown = 0;
                for (int dy = -gap; dy <= gap; ++dy) {
                    for (int dx = -gap; dx <= gap; ++dx) {
                        int nx = x + dx, ny = y + dy;
                        if (nx >= 0 && ny >= 0 && nx < w && ny < h)
                            grown = std::max(grown, at(nx, ny).a);
                    }
                }
                Pixel halo = unit(*ink.halo);
                halo.a = grown;
                result = over(result, halo);
            }
            std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                             static_cast<std::size_t>(x)) *
                            4;
            out.argb[i] = byte(result.a);
            out.argb[i + 1] = byte(result.r);
            out.argb[i + 2] = byte(result.g);
            out.argb[i + 3] = byte(result.b);
        }
    }
    return out;
}

} // namespace

StatusInk inkFor(PanelShade panel) {
    switch (panel) {
    case PanelShade::light:
        return {darkInk, std::nullopt};
    case PanelShade::dark:
        return {lightInk, std::nullopt};
    case PanelShade::unknown:
        break;
    }
    return {darkInk, lightInk};
}

std::vector<ArgbPixmap> composeStatusPixmaps(const StatusImage& icon, std::string_view badge,
                                             PanelShade panel) {
    const StatusInk ink = inkFor(panel);
    std::vector<ArgbPixmap> pixmaps;
    for (const auto& bitmap : icon.representations) {
        if (bitmap.width <= 0 || bitmap.height <= 0 ||
            bitmap.rgba.size() != static_cast<std::size_t>(bitmap.width) *
                                      static_cast<std::size_t>(bitmap.height) * 4) {
            continue;
        }
        pixmaps.push_back(compose(bitmap, icon.isTemplate, badge, ink));
    }
    return pixmaps;
}

std::vector<ArgbPixmap> withOpacity(const std::vector<ArgbPixmap>& pixmaps, double opacity) {
    double factor = std::clamp(opacity, 0.0, 1.0);
    std::vector<ArgbPixmap> result = pixmaps;
    if (factor >= 1.0)
        return result;
    for (auto& pixmap : result) {
        for (std::size_t i = 0; i < pixmap.argb.size(); i += 4) {
            pixmap.argb[i] = static_cast<std::uint8_t>(std::lround(pixmap.argb[i] * factor));
        }
    }
    return result;
}

} // namespace quorvel

#include "shell/SymbolicStatusIcon.h"

#include "base/Sha256.h"
#include "shell/StatusAcknowledgement.h"
#include "shell/StatusBadgeGlyph.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quorvel {

namespace {

constexpr int levels = 8;

int levelOf(std::uint8_t alpha) {
    return static_cast<int>(std::lround(alpha * static_cast<double>(levels) / 255.0));
}

} // namespace

std::optional<SymbolicStatusIcon> symbolicStatusIcon(const std::vector<ArgbPixmap>& pixmaps) {
    const ArgbPixmap* largest = nullptr;
    for (const auto& pixmap : pixmaps) {
        const bool wellFormed = pixmap.width > 0 && pixmap.height > 0 &&
                                pixmap.argb.size() == static_cast<std::size_t>(pixmap.width) *
                                                          static_cast<std::size_t>(pixmap.height) *
                                                          4;
        if (wellFormed &&
            (!largest || pixmap.width * pixmap.height > largest->width * largest->height))
            largest = &pixmap;
    }
    if (!largest)
        return std::nullopt;
    const int w = largest->width, h = largest->height;
    auto at = [&](int x, int y) {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 4 +
               static_cast<std::size_t>(x) * 4;
    };
    std::size_t strongest = 0;
    for (std::size_t i = 0; i < largest->argb.size(); i += 4) {
        if (largest->argb[i] > largest->argb[strongest])
            strongest = i;
    }
    if (levelOf(largest->argb[strongest]) == 0)
        return std::nullopt;

    // One path per level of coverage: the runs of pixels of that level, row by row.
    std::string paths;
    for (int level = 1; level <= levels; ++level) {
        std::string d;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w;) {
                if (levelOf(largest->argb[at(x, y)]) != level) {
                    ++x;
                    continue;
                }
                int run = 1;
                while (x + run < w && levelOf(largest->argb[at(x + run, y)]) == level)
                    ++run;
                d += "M" + std::to_string(x) + " " + std::to_string(y) + "h" + std::to_string(run) +
                     "v1h-" + std::to_string(run) + "z";
                x += run;
            }
        }
        if (d.empty())
            continue;
        char opacity[16];
        std::snprintf(opacity, sizeof opacity, "%g", static_cast<double>(level) / levels);
        paths += "<path fill-opacity=\"" + std::string(opacity) + "\" d=\"" + d + "\"/>\n";
    }
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%02x%02x%02x", largest->argb[strongest + 1],
                  largest->argb[strongest + 2], largest->argb[strongest + 3]);
    SymbolicStatusIcon icon;
    icon.svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) +
               "\" height=\"" + std::to_string(h) + "\" viewBox=\"0 0 " + std::to_string(w) + " " +
               std::to_string(h) + "\">\n<g fill=\"" + colour + "\">\n" + paths + "</g>\n</svg>\n";
    icon.name = "quorvel-status-" + sha256Hex(icon.svg).substr(0, 12) + "-symbolic";
    return icon;
}

const SymbolicStatusIcon* SymbolicStatusIconSet::find(std::string_view badge,
                                                      double opacity) const {
    const bool dimmed = opacity < StatusAcknowledgement::fullOpacity;
    for (const auto& entry : entries) {
        if (entry.badge == badge && entry.dimmed == dimmed)
            return &entry.icon;
    }
    return nullptr;
}

SymbolicStatusIconSet symbolicStatusIcons(const StatusImage& icon, PanelShade panel) {
    SymbolicStatusIconSet set;
    if (!icon.isTemplate || panel == PanelShade::unknown)
        return set;
    std::vector<std::string> badges{""};
    for (auto name : badgeGlyphNames())
        badges.emplace_back(name);
    for (const auto& badge : badges) {
        const auto pixmaps = composeStatusPixmaps(icon, badge, panel);
        for (bool dimmed : {false, true}) {
            auto symbolic = symbolicStatusIcon(
                dimmed ? withOpacity(pixmaps, StatusAcknowledgement::dimOpacity) : pixmaps);
            if (symbolic)
                set.entries.push_back({badge, dimmed, std::move(*symbolic)});
        }
    }
    return set;
}

} // namespace quorvel

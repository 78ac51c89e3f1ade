#pragma once

#include "shell/ColourContrast.h"
#include "shell/DesktopAppearance.h"
#include "shell/StatusImage.h"

#include <cstdint>
#include <optional>
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

// The colours a template image is drawn in for a panel: a dark glyph on a light panel, a light one
// on a dark panel, and where the panel's shade is not known, the dark glyph inside a light halo, so
// that one of the two stands out from any panel by at least 3:1, also dimmed to 0.65.
struct StatusInk {
    Rgb glyph;
    std::optional<Rgb> halo;
    bool operator==(const StatusInk&) const = default;
};
StatusInk inkFor(PanelShade panel);

// One pixmap per representation of the icon, with the state glyph of that name composited into its
// lower right corner behind a clear gap. An empty or unknown name leaves the icon alone. A template
// image is drawn in the ink for the panel.
std::vector<ArgbPixmap> composeStatusPixmaps(const StatusImage& icon, std::string_view badge,
                                             PanelShade panel = PanelShade::unknown);
// The same pixmaps with every alpha scaled by opacity (0 to 1).
std::vector<ArgbPixmap> withOpacity(const std::vector<ArgbPixmap>& pixmaps, double opacity);

} // namespace quorvel

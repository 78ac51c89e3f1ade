#pragma once

#include "shell/StatusPixmaps.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The status icon as a symbolic icon that a tray host finds by name in our icon folder. Hosts that
// recolour symbolic icons replace its fill with their own foreground; the others draw it as it is,
// in the ink chosen for the panel, so it reads as well as the pixmaps either way.
struct SymbolicStatusIcon {
    std::string name; // "quorvel-status-<12 hex digits of the SVG's SHA-256>-symbolic"
    std::string svg;
    bool operator==(const SymbolicStatusIcon&) const = default;
};

// The largest pixmap's coverage as filled paths, one per eighth of coverage, so that edges stay
// smooth when the host scales it and a dimmed icon stays dimmed (hosts replace the colour, not the
// fill-opacity). The colour is that of the most opaque pixel. The name follows the content, so a
// host never shows an icon it cached under the same name. Nothing for an empty or invisible set.
std::optional<SymbolicStatusIcon> symbolicStatusIcon(const std::vector<ArgbPixmap>& pixmaps);

// One symbolic icon for each badge the presentation can show and for each of the two opacities
// the icon rests at (full and acknowledged), drawn for a panel of known shade. Every opacity below
// full takes the dimmed icon, so that on hosts that draw the name the cue lasts as long as the
// easing does on hosts that draw the pixmaps. Written all at once, so that a state change never
// names a file a host's icon cache has not seen yet.
struct SymbolicStatusIconSet {
    struct Entry {
        std::string badge;
        bool dimmed = false;
        SymbolicStatusIcon icon;
        bool operator==(const Entry&) const = default;
    };
    std::vector<Entry> entries;
    const SymbolicStatusIcon* find(std::string_view badge, double opacity) const;
    bool operator==(const SymbolicStatusIconSet&) const = default;
};
// Empty unless the image is a template and the panel's shade is known: a dark glyph in a light halo
// would become one blot when a host recolours it.
SymbolicStatusIconSet symbolicStatusIcons(const StatusImage& icon, PanelShade panel);

} // namespace quorvel

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// How bright the panel behind the status item is, as far as the desktop tells.
enum class PanelShade { light, dark, unknown };

// What the status item takes from the desktop's settings.
struct DesktopAppearance {
    PanelShade panel = PanelShade::unknown;
    bool reducedMotion = false;
    bool operator==(const DesktopAppearance&) const = default;
};

// The readings of each source a desktop may keep these settings in; nullopt where a source says
// nothing. The first source that answers wins, in this order (the Linux reader fills only the
// sources of the desktop that runs).
struct DesktopAppearanceSources {
    // XDG_CURRENT_DESKTOP: GNOME Shell's top bar is dark in its light and its dark style alike, so
    // there the answer is known before any setting is read.
    std::string currentDesktop;
    // The Settings portal: org.freedesktop.appearance color-scheme (0 no preference, 1 dark,
    // 2 light) and, where its backend offers it, org.gnome.desktop.interface enable-animations.
    std::optional<std::uint32_t> portalColorScheme;
    std::optional<bool> portalEnableAnimations;
    // GNOME's GSettings: org.gnome.desktop.interface color-scheme, gtk-theme, enable-animations.
    std::optional<std::string> gnomeColorScheme;
    std::optional<std::string> gnomeGtkTheme;
    std::optional<bool> gnomeEnableAnimations;
    // KDE's kdeglobals and Xfce's xfconf files, as text.
    std::optional<std::string> kdeGlobals;
    std::optional<std::string> xfceXsettings;
    // Whether the GTK theme xsettings names is installed: GTK draws a missing theme as its
    // built-in light Adwaita.
    bool xfceThemeInstalled = true;
};

DesktopAppearance appearanceFrom(const DesktopAppearanceSources& sources);

// Whether a colon-separated XDG_CURRENT_DESKTOP list names this desktop.
bool desktopListIncludes(std::string_view desktops, std::string_view name);

// The single readings, for tests and the sources above.
std::optional<PanelShade> shadeOfPortalColorScheme(std::uint32_t value);
std::optional<PanelShade> shadeOfGnomeColorScheme(std::string_view value);
std::optional<PanelShade> shadeOfThemeName(std::string_view name);
// kdeglobals: [Colors:Header] or else [Colors:Window] BackgroundNormal=r,g,b (the panel's own
// colours in Plasma), else [General] ColorScheme by name; [KDE] AnimationDurationFactor=0.
std::optional<PanelShade> shadeOfKdeGlobals(std::string_view text);
std::optional<bool> reducedMotionOfKdeGlobals(std::string_view text);
// Xfce's xsettings channel: /Net/ThemeName and /Gtk/EnableAnimations (handed to GTK as
// gtk-enable-animations). The panel's own dark mode is not read: the tray runs in a plugin process
// of its own that keeps the GTK theme's colours.
std::optional<std::string> xfceThemeName(std::string_view xsettings);
std::optional<bool> reducedMotionOfXfceXsettings(std::string_view xsettings);

} // namespace quorvel

// Feeds arbitrary bytes to the readers of the desktop's settings files (KDE's kdeglobals, Xfce's
// xfconf XML), which are the user's to write: none may crash or read out of bounds, and the whole
// appearance computed from them is always one of its values.
#include "shell/DesktopAppearance.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)shadeOfKdeGlobals(text);
    (void)reducedMotionOfKdeGlobals(text);
    (void)xfceThemeName(text);
    (void)reducedMotionOfXfceXsettings(text);
    (void)shadeOfThemeName(text);

    DesktopAppearanceSources sources;
    sources.currentDesktop = size % 2 ? "KDE" : "XFCE";
    sources.kdeGlobals = std::string(text);
    sources.xfceXsettings = std::string(text);
    sources.xfceThemeInstalled = size % 3 != 0;
    auto appearance = appearanceFrom(sources);
    if (appearance.panel != PanelShade::light && appearance.panel != PanelShade::dark &&
        appearance.panel != PanelShade::unknown) {
        std::abort();
    }
    return 0;
}

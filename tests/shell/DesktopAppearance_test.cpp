#include "shell/DesktopAppearance.h"

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

DesktopAppearanceSources on(std::string desktop) {
    DesktopAppearanceSources s;
    s.currentDesktop = std::move(desktop);
    return s;
}

const char* xfconf(const char* channel, const char* body) {
    static std::string text;
    text = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<channel name=\"") + channel +
           "\" version=\"1.0\">\n" + body + "</channel>\n";
    return text.c_str();
}

} // namespace

// Each desktop's own way of saying "dark panel" and "no animations", and which source wins.
TEST(DesktopAppearance, ReadsEachDesktopsSettingsInOrder) {
    struct Case {
        const char* what;
        DesktopAppearanceSources sources;
        DesktopAppearance expected;
    };
    std::vector<Case> cases;
    cases.push_back({"nothing known", on(""), {PanelShade::unknown, false}});
    {
        auto s = on("ubuntu:GNOME");
        s.portalColorScheme = 2;
        s.gnomeEnableAnimations = false;
        cases.push_back({"GNOME's top bar is dark in both styles", s, {PanelShade::dark, true}});
    }
    {
        auto s = on("sway");
        s.portalColorScheme = 1;
        s.portalEnableAnimations = true;
        s.gnomeEnableAnimations = false;
        s.gnomeGtkTheme = "Adwaita";
        cases.push_back({"the portal before GSettings", s, {PanelShade::dark, false}});
    }
    {
        auto s = on("sway");
        s.portalColorScheme = 0;
        s.gnomeColorScheme = "default";
        s.gnomeGtkTheme = "Arc-Dark";
        cases.push_back({"no preference anywhere: the theme's name", s, {PanelShade::dark, false}});
    }
    {
        auto s = on("KDE");
        s.kdeGlobals = "[General]\nColorScheme=BreezeLight\n[Colors:Window]\n"
                       "BackgroundNormal=49,54,59\n[KDE]\nAnimationDurationFactor=0\n";
        cases.push_back(
            {"KDE: the window colours over the scheme's name", s, {PanelShade::dark, true}});
    }
    {
        auto s = on("KDE");
        s.kdeGlobals = "[General]\nColorScheme=BreezeDark\n[KDE]\nAnimationDurationFactor=0.5\n";
        cases.push_back(
            {"KDE: the scheme's name; a factor above 0 animates", s, {PanelShade::dark, false}});
    }
    {
        auto s = on("XFCE");
        s.xfceXsettings = xfconf(
            "xsettings", "  <property name=\"Net\" type=\"empty\">\n"
                         "    <property name=\"ThemeName\" type=\"string\" value=\"Adwaita\"/>\n"
                         "  </property>\n  <property name=\"Gtk\" type=\"empty\">\n"
                         "    <property name=\"EnableAnimations\" type=\"bool\" value=\"false\"/>\n"
                         "  </property>\n");
        cases.push_back({"Xfce: a light theme, animations off", s, {PanelShade::light, true}});
        std::string dark = *s.xfceXsettings;
        dark.replace(dark.find("\"Adwaita\""), 9, "\"Adwaita-dark\"");
        s.xfceXsettings = dark;
        cases.push_back({"Xfce: a dark theme", s, {PanelShade::dark, true}});
        s.xfceThemeInstalled = false;
        cases.push_back(
            {"Xfce: a dark theme that is not installed draws light", s, {PanelShade::light, true}});
    }
    for (const auto& c : cases)
        EXPECT_EQ(appearanceFrom(c.sources), c.expected) << c.what;

    // What is not understood says nothing, rather than something wrong.
    EXPECT_FALSE(shadeOfKdeGlobals("[Colors:Window]\nBackgroundNormal=300,0,0\n"));
    EXPECT_FALSE(reducedMotionOfKdeGlobals("[KDE]\nAnimationDurationFactor=fast\n"));
    EXPECT_FALSE(shadeOfThemeName(""));
    EXPECT_FALSE(shadeOfPortalColorScheme(7));
}

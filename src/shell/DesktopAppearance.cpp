#include "shell/DesktopAppearance.h"

#include "shell/ColourContrast.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <vector>

namespace quorvel {

namespace {

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// The value of `key` in `[group]` of an INI-style file; the last occurrence counts.
std::optional<std::string_view> iniValue(std::string_view text, std::string_view group,
                                         std::string_view key) {
    std::optional<std::string_view> found;
    bool inGroup = false;
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[') {
            inGroup = line.size() == group.size() + 2 && line.substr(1, group.size()) == group &&
                      line.back() == ']';
            continue;
        }
        auto equals = line.find('=');
        if (!inGroup || equals == std::string_view::npos)
            continue;
        // "Key[$e]=" marks expansion; the key is what stands before the bracket.
        std::string_view name = trimmed(line.substr(0, equals));
        if (auto bracket = name.find('['); bracket != std::string_view::npos)
            name = name.substr(0, bracket);
        if (name == key)
            found = trimmed(line.substr(equals + 1));
    }
    return found;
}

std::optional<PanelShade> shadeOfRgbList(std::string_view value) {
    int rgb[3];
    for (int i = 0; i < 3; ++i) {
        value = trimmed(value);
        auto [next, error] = std::from_chars(value.data(), value.data() + value.size(), rgb[i]);
        if (error != std::errc() || rgb[i] < 0 || rgb[i] > 255)
            return std::nullopt;
        value.remove_prefix(static_cast<std::size_t>(next - value.data()));
        value = trimmed(value);
        if (i < 2) {
            if (value.empty() || value.front() != ',')
                return std::nullopt;
            value.remove_prefix(1);
        }
    }
    // Mid-grey (luminance 0.18) is where black and white text read equally well.
    return relativeLuminance({static_cast<std::uint8_t>(rgb[0]), static_cast<std::uint8_t>(rgb[1]),
                              static_cast<std::uint8_t>(rgb[2])}) < 0.18
               ? PanelShade::dark
               : PanelShade::light;
}

// The value of an xfconf property by its path ("/Net/ThemeName") in a channel's XML file, as
// the text of its value attribute. The files are written by xfconfd in one fixed form.
std::optional<std::string> xfconfValue(std::string_view xml, std::string_view path) {
    std::string_view rest = xml;
    std::vector<std::string_view> stack;
    std::optional<std::string> found;
    while (true) {
        auto open = rest.find('<');
        if (open == std::string_view::npos)
            break;
        auto close = rest.find('>', open);
        if (close == std::string_view::npos)
            break;
        std::string_view tag = rest.substr(open + 1, close - open - 1);
        rest = rest.substr(close + 1);
        if (tag.starts_with("/property")) {
            if (!stack.empty())
                stack.pop_back();
            continue;
        }
        if (!tag.starts_with("property "))
            continue;
        auto attribute = [&](std::string_view name) -> std::optional<std::string_view> {
            std::string needle = std::string(name) + "=\"";
            auto at = tag.find(needle);
            if (at == std::string_view::npos)
                return std::nullopt;
            auto start = at + needle.size();
            auto stop = tag.find('"', start);
            if (stop == std::string_view::npos)
                return std::nullopt;
            return tag.substr(start, stop - start);
        };
        auto name = attribute("name");
        if (!name)
            continue;
        stack.push_back(*name);
        std::string full;
        for (auto part : stack)
            full += "/" + std::string(part);
        if (full == path) {
            if (auto value = attribute("value"))
                found = std::string(*value);
        }
        if (tag.ends_with("/"))
            stack.pop_back();
    }
    return found;
}

std::optional<bool> booleanWord(std::string_view value) {
    std::string word = lowered(trimmed(value));
    if (word == "true" || word == "1")
        return true;
    if (word == "false" || word == "0")
        return false;
    return std::nullopt;
}

} // namespace

std::optional<PanelShade> shadeOfPortalColorScheme(std::uint32_t value) {
    if (value == 1)
        return PanelShade::dark;
    if (value == 2)
        return PanelShade::light;
    return std::nullopt;
}

std::optional<PanelShade> shadeOfGnomeColorScheme(std::string_view value) {
    if (value == "prefer-dark")
        return PanelShade::dark;
    if (value == "prefer-light")
        return PanelShade::light;
    return std::nullopt;
}

std::optional<PanelShade> shadeOfThemeName(std::string_view name) {
    if (trimmed(name).empty())
        return std::nullopt;
    return lowered(name).find("dark") != std::string::npos ? PanelShade::dark : PanelShade::light;
}

std::optional<PanelShade> shadeOfKdeGlobals(std::string_view text) {
    for (std::string_view group : {"Colors:Header", "Colors:Window"}) {
        if (auto value = iniValue(text, group, "BackgroundNormal")) {
            if (auto shade = shadeOfRgbList(*value))
                return shade;
        }
    }
    if (auto scheme = iniValue(text, "General", "ColorScheme"))
        return shadeOfThemeName(*scheme);
    return std::nullopt;
}

std::optional<bool> reducedMotionOfKdeGlobals(std::string_view text) {
    auto value = iniValue(text, "KDE", "AnimationDurationFactor");
    if (!value)
        return std::nullopt;
    double factor = 1;
    auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), factor);
    if (error != std::errc() || end != value->data() + value->size())
        return std::nullopt;
    return factor <= 0;
}

std::optional<std::string> xfceThemeName(std::string_view xsettings) {
    return xfconfValue(xsettings, "/Net/ThemeName");
}

std::optional<bool> reducedMotionOfXfceXsettings(std::string_view xsettings) {
    auto value = xfconfValue(xsettings, "/Gtk/EnableAnimations");
    if (!value)
        return std::nullopt;
    auto enabled = booleanWord(*value);
    if (!enabled)
        return std::nullopt;
    return !*enabled;
}

bool desktopListIncludes(std::string_view desktops, std::string_view name) {
    while (!desktops.empty()) {
        auto colon = desktops.find(':');
        if (desktops.substr(0, colon) == name)
            return true;
        desktops =
            colon == std::string_view::npos ? std::string_view() : desktops.substr(colon + 1);
    }
    return false;
}

DesktopAppearance appearanceFrom(const DesktopAppearanceSources& s) {
    DesktopAppearance appearance;
    std::optional<PanelShade> shade;
    if (desktopListIncludes(s.currentDesktop, "GNOME"))
        shade = PanelShade::dark;
    if (!shade && s.portalColorScheme)
        shade = shadeOfPortalColorScheme(*s.portalColorScheme);
    if (!shade && s.kdeGlobals)
        shade = shadeOfKdeGlobals(*s.kdeGlobals);
    if (!shade && s.xfceXsettings) {
        auto theme = xfceThemeName(*s.xfceXsettings);
        shade = theme && !s.xfceThemeInstalled ? PanelShade::light
                                               : shadeOfThemeName(theme.value_or(""));
    }
    if (!shade && s.gnomeColorScheme)
        shade = shadeOfGnomeColorScheme(*s.gnomeColorScheme);
    if (!shade && s.gnomeGtkTheme)
        shade = shadeOfThemeName(*s.gnomeGtkTheme);
    appearance.panel = shade.value_or(PanelShade::unknown);

    std::optional<bool> reduced;
    if (s.portalEnableAnimations)
        reduced = !*s.portalEnableAnimations;
    if (!reduced && s.kdeGlobals)
        reduced = reducedMotionOfKdeGlobals(*s.kdeGlobals);
    if (!reduced && s.xfceXsettings)
        reduced = reducedMotionOfXfceXsettings(*s.xfceXsettings);
    if (!reduced && s.gnomeEnableAnimations)
        reduced = !*s.gnomeEnableAnimations;
    appearance.reducedMotion = reduced.value_or(false);
    return appearance;
}

} // namespace quorvel

#include "image/PngDecoder.h"
#include "shell/BrandedStatusIcon.h"
#include "shell/StatusBadgeGlyph.h"
#include "shell/StatusPixmaps.h"
#include "shell/SymbolicStatusIcon.h"
#include "shell/TrayMenuLayout.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>

using namespace quorvel;

TEST(BrandedStatusIcon, DecodesThreeSquareTemplateRepresentations) {
    auto icon = BrandedStatusIcon::make();
    ASSERT_TRUE(icon);
    EXPECT_TRUE(icon->isTemplate);
    EXPECT_EQ(icon->accessibilityDescription, "Quorvel");
    EXPECT_EQ(icon->pointWidth, 16);
    ASSERT_EQ(icon->representations.size(), 3u);
    const int sizes[] = {22, 44, 66};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& bitmap = icon->representations[i];
        EXPECT_EQ(bitmap.width, sizes[i]);
        EXPECT_EQ(bitmap.height, sizes[i]);
        ASSERT_EQ(bitmap.rgba.size(), static_cast<std::size_t>(sizes[i] * sizes[i] * 4));
        int opaque = 0, clear = 0;
        for (std::size_t p = 3; p < bitmap.rgba.size(); p += 4) {
            opaque += bitmap.rgba[p] == 255;
            clear += bitmap.rgba[p] == 0;
        }
        EXPECT_GT(opaque, 0); // the alpha channel forms the glyph
        EXPECT_GT(clear, 0);
    }
}

TEST(PngDecoder, DecodesTheGlyphFilesAndRefusesBrokenOnes) {
    auto read = [](int size) {
        std::ifstream file(std::string(QUORVEL_ASSETS_DIR) + "/status-icon-" +
                               std::to_string(size) + ".png",
                           std::ios::binary);
        return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
    };
    auto file = read(44);
    auto decoded = decodePng(file);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, BrandedStatusIcon::make()->representations[1])
        << "the compiled-in pixels are the file's";

    std::vector<std::uint8_t> truncated(
        file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() / 2));
    std::vector<std::uint8_t> garbage{'n', 'o', 't', ' ', 'p', 'n', 'g'};
    for (const auto& broken : {truncated, garbage, std::vector<std::uint8_t>{}})
        EXPECT_FALSE(decodePng(broken));
}

TEST(StatusPixmaps, BadgeIsCompositedAndOpacityScalesAlpha) {
    auto icon = *BrandedStatusIcon::make();
    auto plain = composeStatusPixmaps(icon, "");
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_EQ(plain[0].width, 22);
    EXPECT_EQ(plain[2].argb.size(), 66u * 66u * 4u);
    // A template is drawn in the ink for its panel; bytes are A, R, G, B.
    auto onLight = composeStatusPixmaps(icon, "", PanelShade::light);
    for (std::size_t i = 0; i < onLight[1].argb.size(); i += 4) {
        if (onLight[1].argb[i] == 255) {
            EXPECT_EQ(onLight[1].argb[i + 1], inkFor(PanelShade::light).glyph.r);
            break;
        }
    }
    EXPECT_EQ(composeStatusPixmaps(icon, "no.such.symbol"), plain);

    const char* names[] = {"ellipsis",
                           "record.circle.fill",
                           "exclamationmark.triangle.fill",
                           "pause.fill",
                           "arrow.down.circle",
                           "arrow.up.circle.fill",
                           "exclamationmark.octagon.fill",
                           "questionmark.circle"};
    std::vector<std::vector<ArgbPixmap>> seen;
    for (const char* name : names) {
        ASSERT_TRUE(hasBadgeGlyph(name)) << name;
        auto badged = composeStatusPixmaps(icon, name);
        EXPECT_NE(badged, plain) << name;
        for (const auto& other : seen)
            EXPECT_NE(badged, other) << name; // every glyph is distinct
        seen.push_back(badged);
    }
    EXPECT_FALSE(hasBadgeGlyph(""));

    auto dimmed = withOpacity(plain, 0.65);
    for (std::size_t i = 0; i < plain[0].argb.size(); i += 4) {
        EXPECT_EQ(dimmed[0].argb[i],
                  static_cast<std::uint8_t>(std::lround(plain[0].argb[i] * 0.65)));
        EXPECT_EQ(dimmed[0].argb[i + 1], plain[0].argb[i + 1]);
    }
    EXPECT_EQ(withOpacity(plain, 1.0), plain);
}

namespace {

// The share of the icon's drawn pixels (alpha above a quarter) that stand out from the panel by at
// least 3:1 once blended onto it, as a screenshot of the panel would show them.
double legibleShare(const ArgbPixmap& pixmap, Rgb panel) {
    std::size_t drawn = 0, legible = 0;
    for (std::size_t i = 0; i < pixmap.argb.size(); i += 4) {
        double a = pixmap.argb[i] / 255.0;
        if (a <= 0.25)
            continue;
        ++drawn;
        auto blend = [&](std::uint8_t c, std::uint8_t p) {
            return static_cast<std::uint8_t>(std::lround(c * a + p * (1 - a)));
        };
        Rgb seen{blend(pixmap.argb[i + 1], panel.r), blend(pixmap.argb[i + 2], panel.g),
                 blend(pixmap.argb[i + 3], panel.b)};
        legible += contrastRatio(seen, panel) >= 3.0;
    }
    return drawn ? static_cast<double>(legible) / static_cast<double>(drawn) : 0;
}

} // namespace

// Every badge, at full opacity and dimmed by the acknowledgement, reads at 3:1 on the panel it is
// drawn for, and the ink for an unknown panel reads on light and dark panels alike.
TEST(StatusPixmaps, TheIconStandsOutFromLightAndDarkPanels) {
    auto icon = *BrandedStatusIcon::make();
    const Rgb light{246, 245, 244}, dark{0x2B, 0x2B, 0x2B}, black{0, 0, 0}, grey{0xD6, 0xD6, 0xD6};
    const std::vector<std::pair<PanelShade, std::vector<Rgb>>> cases = {
        {PanelShade::light, {light, grey}},
        {PanelShade::dark, {dark, black}},
        {PanelShade::unknown, {light, grey, dark, black}},
    };
    for (const auto& [shade, panels] : cases) {
        for (const char* badge : {"", "record.circle.fill", "exclamationmark.triangle.fill"}) {
            auto pixmaps = composeStatusPixmaps(icon, badge, shade);
            for (double opacity : {1.0, 0.65}) {
                for (const auto& pixmap : withOpacity(pixmaps, opacity)) {
                    for (Rgb panel : panels) {
                        // Inside a halo, the glyph or its outline stands out: less of the
                        // drawing does on any one panel, but the glyph meets its halo at ~11:1.
                        EXPECT_GE(legibleShare(pixmap, panel),
                                  shade == PanelShade::unknown ? 0.3 : 0.5)
                            << static_cast<int>(shade) << " " << badge << " " << opacity << " "
                            << pixmap.width << " on " << int(panel.r);
                    }
                }
            }
        }
    }
    // Contrast itself, by the WCAG formula.
    EXPECT_NEAR(contrastRatio({0, 0, 0}, {255, 255, 255}), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio({190, 190, 190}, light), 1.71, 0.01);
    auto ink = inkFor(PanelShade::unknown);
    EXPECT_GE(contrastRatio(ink.glyph, *ink.halo), 10.0);
}

// The symbolic icon redrawn from its paths gives back the pixmap's coverage to within one level,
// for every badge and both resting opacities; each icon of the set has a name of its own.
TEST(SymbolicStatusIcon, PathsCarryThePixmapsCoverageAndNamesFollowTheContent) {
    auto icon = *BrandedStatusIcon::make();
    EXPECT_TRUE(symbolicStatusIcons(icon, PanelShade::unknown).entries.empty());
    auto coloured = icon;
    coloured.isTemplate = false;
    EXPECT_TRUE(symbolicStatusIcons(coloured, PanelShade::dark).entries.empty());

    auto set = symbolicStatusIcons(icon, PanelShade::dark);
    ASSERT_EQ(set.entries.size(), 2 * (badgeGlyphNames().size() + 1));
    std::set<std::string> names;
    const std::regex path(R"re(<path fill-opacity="([0-9.]+)" d="([^"]*)"/>)re");
    const std::regex run(R"(M(\d+) (\d+)h(\d+)v1h-\d+z)");
    for (const auto& entry : set.entries) {
        names.insert(entry.icon.name);
        EXPECT_NE(entry.icon.svg.find("fill=\"#f2f2f2\""), std::string::npos);
        auto pixmaps = composeStatusPixmaps(icon, entry.badge, PanelShade::dark);
        const auto drawnPixmaps = withOpacity(pixmaps, entry.dimmed ? 0.65 : 1.0);
        const ArgbPixmap& largest = drawnPixmaps.back(); // 66 px
        std::vector<double> drawn(static_cast<std::size_t>(largest.width * largest.height), 0);
        for (std::sregex_iterator p(entry.icon.svg.begin(), entry.icon.svg.end(), path), end;
             p != end; ++p) {
            const double opacity = std::stod((*p)[1]);
            const std::string d = (*p)[2];
            for (std::sregex_iterator r(d.begin(), d.end(), run); r != end; ++r) {
                const int x = std::stoi((*r)[1]), y = std::stoi((*r)[2]), n = std::stoi((*r)[3]);
                for (int i = 0; i < n; ++i)
                    drawn[static_cast<std::size_t>(y * largest.width + x + i)] += opacity;
            }
        }
        for (std::size_t i = 0; i < drawn.size(); ++i)
            ASSERT_NEAR(drawn[i], largest.argb[i * 4] / 255.0, 1.0 / 16 + 1e-9)
                << entry.badge << " " << entry.dimmed << " pixel " << i;
    }
    EXPECT_EQ(names.size(), set.entries.size());
    // Full opacity, and the dimmed icon for anything less; an unknown badge has none.
    EXPECT_EQ(set.find("pause.fill", 0.65), set.find("pause.fill", 0.99));
    EXPECT_NE(set.find("pause.fill", 1.0), set.find("pause.fill", 0.65));
    EXPECT_EQ(set.find("no.such.symbol", 1.0), nullptr);
    EXPECT_EQ(symbolicStatusIcons(icon, PanelShade::dark), set); // the same content, the same names
}

TEST(TrayMenuLayout, StatusRowBecomesTwoDisabledEntriesAndIdsStayFixed) {
    StatusMenu menu;
    StatusMenuItem status;
    status.title = "Recording";
    status.subtitle = "12 minutes \u00B7 3 to upload";
    status.enabled = false;
    StatusMenuItem separator;
    separator.kind = StatusMenuItem::Kind::separator;
    separator.hidden = true;
    StatusMenuItem update;
    update.title = "Restart to Update";
    update.hasAction = true;
    update.tag = 9;
    update.hidden = true;
    StatusMenuItem quit;
    quit.title = "Quit my_app";
    quit.hasAction = true;
    quit.tag = 10;
    menu.items = {status, separator, update, quit};

    auto entries = trayMenuEntries(menu);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].id, 1);
    EXPECT_EQ(entries[0].label, "Recording");
    EXPECT_FALSE(entries[0].enabled);
    EXPECT_EQ(entries[1].label, "12 minutes \u00B7 3 to upload");
    EXPECT_FALSE(entries[1].enabled);
    EXPECT_TRUE(entries[2].separator);
    EXPECT_FALSE(entries[2].visible);
    EXPECT_TRUE(entries[3].clickable);
    EXPECT_EQ(entries[4].label, "Quit my__app");

    menu.items[0].subtitle.clear();
    menu.items[2].hidden = false;
    menu.items[2].badge = "2.4.1";
    auto after = trayMenuEntries(menu);
    EXPECT_TRUE(sameTrayMenuStructure(entries, after));
    auto changes = trayMenuChanges(entries, after);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].id, 2);
    EXPECT_EQ(changes[0].properties, (std::vector<std::string_view>{"label", "visible"}));
    EXPECT_EQ(changes[1].id, 4);
    EXPECT_EQ(changes[1].properties, (std::vector<std::string_view>{"label", "visible"}));
    EXPECT_EQ(after[3].label, "Restart to Update (2.4.1)");
    EXPECT_TRUE(trayMenuChanges(after, after).empty());
}

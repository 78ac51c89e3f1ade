#include "login/AutostartEntry.h"
#include "login/XdgAutostartLoginItemService.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(AutostartEntry, QuotesExecArgumentsOnlyWhenTheyHoldReservedCharacters) {
    EXPECT_EQ(quoteDesktopExecArgument("/opt/Quorvel.app/Contents/MacOS/QuorvelLauncher"),
              "/opt/Quorvel.app/Contents/MacOS/QuorvelLauncher");
    EXPECT_EQ(quoteDesktopExecArgument("/opt/My Apps/Q"), "\"/opt/My Apps/Q\"");
    EXPECT_EQ(quoteDesktopExecArgument("/a\"b`c$d\\e"), "\"/a\\\"b\\`c\\$d\\\\e\"");
    EXPECT_EQ(quoteDesktopExecArgument("/100%/x"), "/100%%/x");
    EXPECT_EQ(quoteDesktopExecArgument("/it's 100%"), "\"/it's 100%%\"");
    EXPECT_EQ(quoteDesktopExecArgument(""), "\"\"");
}

TEST(AutostartEntry, AWrittenEntryRunsExactlyItsProgram) {
    for (std::string path : {"/opt/Quorvel.app/Contents/MacOS/QuorvelLauncher", "/home/a b/Q.app/x",
                             "/tmp/we\"ird`$\\name%s;#(1)", "/tmp/new\nline", "/tmp/ leading"}) {
        std::string text = makeAutostartEntryText(FileURL{path}, "Quorvel", "Starts Quorvel");
        auto entry = parseAutostartEntry(text);
        ASSERT_TRUE(entry) << text;
        EXPECT_FALSE(entry->disabled);
        EXPECT_EQ(entry->command, std::vector<std::string>{path}) << text;
    }
    std::string text =
        makeAutostartEntryText(FileURL{"/opt/Q/Launcher"}, "Quorvel", "Starts Quorvel");
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=/opt/Q/Launcher\n"), std::string::npos);
    EXPECT_NE(text.find("\nTryExec=/opt/Q/Launcher\n"), std::string::npos);
}

TEST(AutostartEntry, ReadsTheUsersSwitchAndTheCommand) {
    auto entry = parseAutostartEntry(
        "[Desktop Entry]\nType=Application\nName=Q\nExec=/x/L --flag %U\nHidden=true\n");
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->disabled);
    EXPECT_EQ(entry->command, (std::vector<std::string>{"/x/L", "--flag"}));

    entry =
        parseAutostartEntry("[Desktop Entry]\nExec=\"/x y/L\"\nX-GNOME-Autostart-enabled=false\n");
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->disabled);
    EXPECT_EQ(entry->command, std::vector<std::string>{"/x y/L"});

    entry = parseAutostartEntry(
        "[Desktop Entry]\nExec=/x/L\nHidden=false\nX-GNOME-Autostart-enabled=true\n");
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->disabled);

    // An unreadable switch is no switch; an unbalanced quote is no command.
    entry = parseAutostartEntry("[Desktop Entry]\nExec=\"/x/L\nHidden=perhaps\n");
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->disabled);
    EXPECT_TRUE(entry->command.empty());

    EXPECT_FALSE(parseAutostartEntry("not a desktop entry"));
    EXPECT_FALSE(parseAutostartEntry("[Other Group]\nExec=/x/L\n"));
    EXPECT_FALSE(parseAutostartEntry(""));
}

TEST(XdgAutostartLoginItemService, PicksTheStartupToolOfTheCurrentDesktop) {
    using Tools = std::vector<std::vector<std::string>>;
    EXPECT_EQ(XdgAutostartLoginItemService::settingsTools({"XFCE"}),
              (Tools{{"xfce4-session-settings"}}));
    EXPECT_EQ(XdgAutostartLoginItemService::settingsTools({"ubuntu", "GNOME"}).front(),
              std::vector<std::string>{"gnome-session-properties"});
    EXPECT_EQ(XdgAutostartLoginItemService::settingsTools({"kde"}).front(),
              (std::vector<std::string>{"systemsettings", "kcm_autostart"}));
    EXPECT_TRUE(XdgAutostartLoginItemService::settingsTools({"SomethingElse"}).empty());
    EXPECT_TRUE(XdgAutostartLoginItemService::settingsTools({}).empty());
}

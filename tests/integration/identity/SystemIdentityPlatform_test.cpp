// The identity platform that ships, on this desktop: URLs go to the default handler GIO finds for
// their scheme (desktop entries and mimeapps.list in private XDG folders), as xdg-open would.

#include "identity/IdentityPlatform.h"
#include "support/TemporaryDirectory.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

using namespace quorvel;

namespace {

void writeFile(const std::filesystem::path& path, const std::string& text,
               std::filesystem::perms permissions = std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_write) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
    std::filesystem::permissions(path, permissions);
}

std::string readWhenPresent(const std::filesystem::path& path) {
    for (int i = 0; i < 1000; ++i) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        if (text.str().ends_with('\n'))
            return text.str();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

// A handler program that writes the URL it was given to a file, and its desktop entry.
void installHandler(const std::filesystem::path& data, const std::string& name,
                    const std::string& schemes, const std::filesystem::path& output) {
    auto program = data / (name + ".sh");
    writeFile(program,
              "#!/bin/sh\nprintf '%s\\n' \"$1\" > " + output.string() + ".tmp\nmv " +
                  output.string() + ".tmp " + output.string() + "\n",
              std::filesystem::perms::owner_all);
    writeFile(data / "applications" / (name + ".desktop"),
              "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + program.string() +
                  " %u\nMimeType=" + schemes + "\nNoDisplay=true\n");
}

} // namespace

TEST(SystemIdentityPlatform, OpensURLsWithTheDesktopsDefaultHandlerForTheirScheme) {
    test::TemporaryDirectory root;
    auto data = root.path() / "data";
    auto config = root.path() / "config";
    std::filesystem::create_directories(root.path() / "empty");
    // Before the first GIO look-up: only these folders count.
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (root.path() / "empty").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (root.path() / "empty").c_str(), 1);

    installHandler(data, "test-fake-browser", "x-scheme-handler/http;x-scheme-handler/https;",
                   root.path() / "browser.txt");
    installHandler(data, "test-host-app", "x-scheme-handler/com.zadovuzuzo.recorder;",
                   root.path() / "host.txt");
    writeFile(config / "mimeapps.list",
              "[Default Applications]\nx-scheme-handler/https=test-fake-browser.desktop\n"
              "x-scheme-handler/http=test-fake-browser.desktop\n");
    // The host app's claim on its callback scheme is found through the MIME cache.
    std::string update = "update-desktop-database " + (data / "applications").string();
    ASSERT_EQ(std::system(update.c_str()), 0);

    auto platform = makeSystemIdentityPlatform();
    const std::string authorize =
        "https://id.quorvel.test/authorize?client_id=c&redirect_uri=x%3A%2F%2Fy&state=a%20b'&x=1";
    ASSERT_TRUE(platform->openURL(authorize));
    EXPECT_EQ(readWhenPresent(root.path() / "browser.txt"), authorize + "\n");

    const std::string callback = "com.zadovuzuzo.recorder://auth/callback?code=c&state=s";
    ASSERT_TRUE(platform->openURL(callback));
    EXPECT_EQ(readWhenPresent(root.path() / "host.txt"), callback + "\n");

    EXPECT_FALSE(platform->openURL("no-handler-for-this://x"));
    // The test program lies in no bundle: there is no browser redirect setting.
    EXPECT_EQ(platform->browserCallbackSetting(), std::nullopt);
    EXPECT_GT(platform->continuousTime(), 0.0);
}

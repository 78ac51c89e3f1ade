// The single-instance hand-off between processes: a copy of the host app that listens, and a
// second copy, started from the same bundle, that asks it to come forward and quits.

#include "LogindMock.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace quorvel::test;
namespace fs = std::filesystem;

namespace {

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace

TEST(FocusHandOff, ASecondCopyReachesTheFirstAsCodeNine) {
    LogindMock logind;
    logind.addSession(true);

    TemporaryDirectory root;
    fs::path bundle = root / "Quorvel.app";
    fs::create_directories(bundle / "Contents/MacOS");
    writeFileText(bundle / "Contents/Info.plist",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                  "<key>CFBundleIdentifier</key><string>com.quorvel.desktop</string>"
                  "<key>CFBundleExecutable</key><string>Quorvel</string></dict></plist>\n");
    fs::path executable = bundle / "Contents/MacOS/Quorvel";
    fs::copy_file(fs::path(std::getenv("QUORVEL_BUILD_DIR")) / "bin/quorvel-lifecycle-probe",
                  executable);

    std::map<std::string, std::string> environment{
        {"DBUS_SESSION_BUS_ADDRESS", logind.sessionAddress()},
        {"DBUS_SYSTEM_BUS_ADDRESS", logind.systemAddress()},
        {"XDG_SESSION_ID", "c1"},
        {"QUORVEL_LOG", "stderr"}};
    // A copy that never took the bus name, started first so that its pid is the lowest: the
    // hand-off must still bring forward the copy holding the name.
    std::string decoyOutput = (root / "decoy.out").string();
    ChildProcess decoy({executable.string(), "listen"}, {environment, decoyOutput, {}, true});
    ASSERT_TRUE(pumpUntil([&] {
        return readFileText(decoyOutput).find("code=1 ") != std::string::npos;
    })) << readFileText(decoyOutput);
    std::string firstOutput = (root / "first.out").string();
    ChildProcess first({executable.string(), "listen", "--own-name"},
                       {environment, firstOutput, {}, true});
    ASSERT_TRUE(pumpUntil([&] {
        std::string text = readFileText(firstOutput);
        return text.find("owned\n") != std::string::npos &&
               text.find("code=1 ") != std::string::npos;
    })) << readFileText(firstOutput);
    EXPECT_NE(readFileText(firstOutput).find("code=1 detail=7\ninstall=1\n"), std::string::npos)
        << readFileText(firstOutput);

    auto second = environment;
    second["XDG_ACTIVATION_TOKEN"] = "token-42";
    auto result = runCommand({executable.string(), "focus"}, second);
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("posted"), std::string::npos) << result.output;

    ASSERT_TRUE(pumpUntil([&] {
        std::string text = readFileText(firstOutput);
        return text.find("code=9 detail=0\n") != std::string::npos &&
               text.find("activated token=token-42\n") != std::string::npos;
    })) << readFileText(firstOutput);
    // Anything else on its way would have arrived by now.
    pumpFor(std::chrono::milliseconds(300));
    std::string text = readFileText(firstOutput);
    EXPECT_EQ(occurrences(text, "code=9 "), 1u) << text;
    EXPECT_EQ(occurrences(text, "activated"), 1u) << text;

    EXPECT_EQ(readFileText(decoyOutput).find("activated"), std::string::npos);
    first.terminate();
    EXPECT_EQ(first.wait(10), 0) << readFileText(firstOutput);
    // Only the decoy's presence matters: how it ends depends on where SIGTERM finds it.
    decoy.terminate();
    decoy.wait(10);
}

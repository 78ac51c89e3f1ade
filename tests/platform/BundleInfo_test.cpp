#include "platform/ApplicationSupport.h"
#include "platform/BundleInfo.h"
#include "support/TemporaryDirectory.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <plist/plist.h>

namespace quorvel {
namespace {

using test::TemporaryDirectory;
using test::writeFileText;

TEST(BundleInfo, ReadsXmlAndBinaryInformationDictionaries) {
    TemporaryDirectory dir;
    FileURL xml{(dir / "X.app").string()};
    writeFileText(xml.path + "/Contents/Info.plist",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                  "<key>CFBundleIdentifier</key><string>com.quorvel.desktop</string>"
                  "<key>CFBundleExecutable</key><string>Quorvel</string>"
                  "<key>QuorvelIdentityBrowserCallbackURL</key><string>https://a.test/auth/desktop/"
                  "callback</string>"
                  "<key>Count</key><integer>3</integer></dict></plist>\n");
    auto info = readBundle(xml);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->identifier, "com.quorvel.desktop");
    EXPECT_EQ(info->executableURL(), FileURL{xml.path + "/Contents/MacOS/Quorvel"});
    EXPECT_EQ(info->string("QuorvelIdentityBrowserCallbackURL"),
              "https://a.test/auth/desktop/callback");
    EXPECT_FALSE(info->string("Count")); // only strings are kept

    // The same dictionary in binary form.
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "CFBundleIdentifier", plist_new_string("com.quorvel.desktop"));
    plist_dict_set_item(root, "CFBundleExecutable", plist_new_string("Quorvel"));
    char* data = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &data, &length);
    plist_free(root);
    FileURL binary{(dir / "B.app").string()};
    writeFileText(binary.path + "/Contents/Info.plist", std::string(data, length));
    std::free(data);
    auto fromBinary = readBundle(binary);
    ASSERT_TRUE(fromBinary);
    EXPECT_EQ(fromBinary->identifier, "com.quorvel.desktop");
    EXPECT_EQ(fromBinary->executableName, "Quorvel");
}

TEST(BundleInfo, RefusesWhatIsNotABundle) {
    TemporaryDirectory dir;
    EXPECT_FALSE(readBundle(FileURL{(dir / "Missing.app").string()}));
    writeFileText(dir / "Array.app/Contents/Info.plist",
                  "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
    EXPECT_FALSE(readBundle(FileURL{(dir / "Array.app").string()}));
    writeFileText(dir / "Garbage.app/Contents/Info.plist", "not a property list");
    EXPECT_FALSE(readBundle(FileURL{(dir / "Garbage.app").string()}));
    writeFileText(dir / "Empty.app/Contents/Info.plist", "");
    EXPECT_FALSE(readBundle(FileURL{(dir / "Empty.app").string()}));

    // An executable name that would leave Contents/MacOS names no executable.
    writeFileText(
        dir / "Escape.app/Contents/Info.plist",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
        "<string>../../../bin/sh</string></dict></plist>");
    auto escape = readBundle(FileURL{(dir / "Escape.app").string()});
    ASSERT_TRUE(escape);
    EXPECT_FALSE(escape->executableURL());
}

TEST(BundleInfo, BundleOfAnExecutable) {
    EXPECT_EQ(bundleURLForExecutable(FileURL{"/opt/Q.app/Contents/MacOS/Q"}),
              FileURL{"/opt/Q.app"});
    EXPECT_EQ(bundleURLForExecutable(FileURL{"/usr/bin/tool"}), FileURL{"/usr/bin"});
    auto self = currentExecutableURL();
    EXPECT_TRUE(self.isAbsolute());
    EXPECT_EQ(self.lastPathComponent(), "quorvel_platform_tests");
}

} // namespace
} // namespace quorvel

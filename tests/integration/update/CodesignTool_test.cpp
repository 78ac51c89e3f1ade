#include "UpdateFixtures.h"
#include "update/SystemUpdateRecoveryHost.h"

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;

struct CodesignTool : ::testing::Test {
    TemporaryDirectory dir;
    TestKey key{dir.path()};
    fs::path bundle = makeBundle(dir.path(), "1.4.0");
    SystemUpdateRecoveryHost host{hostOptions(&key)};

    UpdateBundleCondition condition() { return host.condition(FileURL::fromPath(bundle.string())); }

    void SetUp() override { ASSERT_EQ(sign(bundle, key), 0); }
};

TEST_F(CodesignTool, SignedBundleVerifies) {
    EXPECT_EQ(verify(bundle, key), 0);
    EXPECT_EQ(condition(), UpdateBundleCondition::verified);
    // The manifest lists every file, sorted, with its digest; the signature folder is not listed.
    std::string manifest = readFileText(bundle / "Contents/QuorvelSignature/manifest");
    EXPECT_EQ(manifest.rfind("quorvel-codesign manifest 1\n", 0), 0u);
    EXPECT_NE(
        manifest.find(
            "link\tlibQuorvelShellBridge.so.1\tContents/Frameworks/libQuorvelShellBridge.so\n"),
        std::string::npos);
    EXPECT_NE(manifest.find("executable\t"), std::string::npos);
    EXPECT_EQ(manifest.find("QuorvelSignature"), std::string::npos);
    EXPECT_EQ(fs::file_size(bundle / "Contents/QuorvelSignature/manifest.sig"), 64u);
    // Moved elsewhere (as a rollback does), it still verifies: paths are relative.
    fs::rename(bundle, dir / "Moved.app");
    bundle = dir / "Moved.app";
    EXPECT_EQ(condition(), UpdateBundleCondition::verified);
    // Through a link to the bundle, too.
    fs::create_directory_symlink(bundle, dir / "Link.app");
    bundle = dir / "Link.app";
    EXPECT_EQ(condition(), UpdateBundleCondition::verified);
}

TEST_F(CodesignTool, ModifiedBundlesDoNotVerify) {
    struct Change {
        const char* name;
        std::function<void(const fs::path&)> apply;
    };
    const std::vector<Change> changes = {
        {"modified file",
         [](const fs::path& b) { writeFileText(b / "Contents/MacOS/Quorvel", "#!/bin/sh\n"); }},
        {"modified nested file",
         [](const fs::path& b) {
             writeFileText(b / "Contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS/"
                               "QuorvelLauncher",
                           "x");
         }},
        {"removed file",
         [](const fs::path& b) { fs::remove(b / "Contents/Resources/strings/en.txt"); }},
        {"extra file",
         [](const fs::path& b) { writeFileText(b / "Contents/Resources/extra.txt", "x"); }},
        {"extra hidden file",
         [](const fs::path& b) { writeFileText(b / "Contents/.hidden", "x"); }},
        {"extra folder", [](const fs::path& b) { fs::create_directory(b / "Contents/Plugins"); }},
        {"extra file in a nested bundle",
         [](const fs::path& b) {
             writeFileText(b / "Contents/Library/LoginItems/QuorvelLauncher.app/x", "x");
         }},
        {"extra file in the signature folder",
         [](const fs::path& b) { writeFileText(b / "Contents/QuorvelSignature/extra", "x"); }},
        {"link out of the bundle",
         [](const fs::path& b) { fs::create_symlink("/etc/passwd", b / "Contents/passwd"); }},
        {"relative link out of the bundle",
         [](const fs::path& b) {
             fs::create_directory_symlink("../../..", b / "Contents/Resources/up");
         }},
        {"listed link redirected",
         [](const fs::path& b) {
             fs::remove(b / "Contents/Frameworks/libQuorvelShellBridge.so");
             fs::create_symlink("/usr/lib/x86_64-linux-gnu/libc.so.6",
                                b / "Contents/Frameworks/libQuorvelShellBridge.so");
         }},
        {"file replaced by a link",
         [](const fs::path& b) {
             fs::remove(b / "Contents/Resources/strings/en.txt");
             fs::create_symlink("../../Info.plist", b / "Contents/Resources/strings/en.txt");
         }},
        {"executable bit dropped",
         [](const fs::path& b) {
             fs::permissions(b / "Contents/MacOS/Quorvel",
                             fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                             fs::perm_options::remove);
         }},
        {"manifest edited",
         [](const fs::path& b) {
             std::string manifest = readFileText(b / "Contents/QuorvelSignature/manifest");
             writeFileText(b / "Contents/QuorvelSignature/manifest",
                           manifest + "directory\t-\tContents/zzz\n");
             fs::create_directory(b / "Contents/zzz");
         }},
        {"signature removed",
         [](const fs::path& b) { fs::remove(b / "Contents/QuorvelSignature/manifest.sig"); }},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.name);
        TemporaryDirectory scratch;
        fs::path copy = makeBundle(scratch.path(), "1.4.0");
        ASSERT_EQ(sign(copy, key), 0);
        ASSERT_EQ(verify(copy, key), 0);
        change.apply(copy);
        EXPECT_EQ(verify(copy, key), 1);
        bundle = copy;
        EXPECT_EQ(condition(), UpdateBundleCondition::unverified);
    }
}

TEST_F(CodesignTool, SigningRefusesLinksLeavingTheBundleAndFifos) {
    fs::create_symlink("/etc", bundle / "Contents/etc");
    CommandResult result =
        runCommand({codesignTool(), "sign", "--key", key.privateKey, bundle.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("Contents/etc: link leads out of the bundle"), std::string::npos);
    fs::remove(bundle / "Contents/etc");
    ASSERT_EQ(::mkfifo((bundle / "Contents/pipe").c_str(), 0600), 0);
    EXPECT_EQ(runCommand({codesignTool(), "sign", "--key", key.privateKey, bundle.string()}).status,
              1);
    fs::remove(bundle / "Contents/pipe");
    // A link that stays inside, dangling or not, is fine.
    fs::create_symlink("../Info.plist", bundle / "Contents/MacOS/Info.plist");
    fs::create_symlink("missing-file", bundle / "Contents/MacOS/later");
    EXPECT_EQ(sign(bundle, key), 0);
    EXPECT_EQ(verify(bundle, key), 0);
}

TEST_F(CodesignTool, TrustsOnlyItsKey) {
    TestKey other(dir.path(), "other");
    EXPECT_EQ(verify(bundle, other), 1);
    // Without --trusted-key the key built into the tool (and into the launcher) is the only one
    // trusted.
    EXPECT_EQ(runCommand({codesignTool(), "verify", "--deep", "--strict", bundle.string()}).status,
              1);
    SystemUpdateRecoveryHost production;
    EXPECT_EQ(production.condition(FileURL::fromPath(bundle.string())),
              UpdateBundleCondition::unverified);
    // The development key of this build (absent in a build with a release key) is that key.
    fs::path developmentKey = fs::path(buildDir()) / "codesign/development-signing-key.pem";
    if (fs::exists(developmentKey)) {
        ASSERT_EQ(
            runCommand({codesignTool(), "sign", "--key", developmentKey.string(), bundle.string()})
                .status,
            0);
        EXPECT_EQ(production.condition(FileURL::fromPath(bundle.string())),
                  UpdateBundleCondition::verified);
    }
}

TEST_F(CodesignTool, UsageErrors) {
    EXPECT_EQ(runCommand({codesignTool()}).status, 2);
    EXPECT_EQ(runCommand({codesignTool(), "verify"}).status, 2);
    EXPECT_EQ(runCommand({codesignTool(), "verify", "--bogus", bundle.string()}).status, 2);
    EXPECT_EQ(runCommand({codesignTool(), "sign", bundle.string()}).status, 2);
    // Not bundles at all.
    EXPECT_EQ(verify(dir / "absent.app", key), 1);
    writeFileText(dir / "file.app", "x");
    EXPECT_EQ(verify(dir / "file.app", key), 1);
    // A private key is not accepted as the trusted public key.
    EXPECT_EQ(
        runCommand({codesignTool(), "verify", "--trusted-key", key.privateKey, bundle.string()})
            .status,
        1);
}

TEST_F(CodesignTool, HostConditionOfMissingAndDanglingPaths) {
    bundle = dir / "Absent.app";
    EXPECT_EQ(condition(), UpdateBundleCondition::missing);
    // Something is there, even if it leads nowhere: it is checked (and fails), not missing.
    fs::create_symlink(dir / "Nowhere.app", dir / "Dangling.app");
    bundle = dir / "Dangling.app";
    EXPECT_EQ(condition(), UpdateBundleCondition::unverified);
    // A key that is no key: nothing can be verified.
    SystemUpdateRecoveryHost noKey{[] {
        SystemUpdateRecoveryHost::Options options;
        options.trustedKeyPem = "not a key";
        return options;
    }()};
    EXPECT_EQ(noKey.condition(FileURL::fromPath((dir / "Quorvel.app").string())),
              UpdateBundleCondition::unverified);
    // Out of time: the check gives up and the bundle counts as unverified.
    SystemUpdateRecoveryHost hurried{hostOptions(&key, std::chrono::milliseconds(0))};
    EXPECT_EQ(hurried.condition(FileURL::fromPath((dir / "Quorvel.app").string())),
              UpdateBundleCondition::unverified);
}

} // namespace
} // namespace quorvel::test

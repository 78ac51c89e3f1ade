#pragma once

// Real bundles, keys and snapshot archives on disk for the update recovery integration tests.

#include "support/ChildProcess.h"
#include "support/TemporaryDirectory.h"
#include "update/SystemUpdateRecoveryHost.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace quorvel::test {

inline std::string buildDir() {
    const char* dir = std::getenv("QUORVEL_BUILD_DIR");
    return dir ? dir : "build";
}

inline std::string codesignTool() {
    return buildDir() + "/bin/quorvel-codesign";
}

// An Ed25519 key pair of the test's own: private.pem and public.pem in the folder.
struct TestKey {
    std::string privateKey;
    std::string publicKey;

    explicit TestKey(const std::filesystem::path& folder, const std::string& name = "test") {
        privateKey = (folder / (name + "-private.pem")).string();
        publicKey = (folder / (name + "-public.pem")).string();
        EXPECT_EQ(
            runCommand({"openssl", "genpkey", "-algorithm", "ed25519", "-out", privateKey}).status,
            0);
        EXPECT_EQ(
            runCommand({"openssl", "pkey", "-in", privateKey, "-pubout", "-out", publicKey}).status,
            0);
    }
};

// Host settings for a test: bundles signed with this key (absent: the built-in one), a limit.
inline SystemUpdateRecoveryHost::Options
hostOptions(const TestKey* key,
            std::chrono::milliseconds limit = UpdateRecoveryLimits::commandTimeLimit) {
    SystemUpdateRecoveryHost::Options options;
    if (key)
        options.trustedKeyPem = readFileText(key->publicKey);
    options.commandTimeLimit = limit;
    return options;
}

// A small application bundle with a nested login item, a library link and some resources.
inline std::filesystem::path makeBundle(const std::filesystem::path& parent,
                                        const std::string& version,
                                        const std::string& name = "Quorvel.app") {
    namespace fs = std::filesystem;
    fs::path bundle = parent / name;
    writeFileText(bundle / "Contents/Info.plist",
                  "<plist><dict><key>CFBundleShortVersionString</key><string>" + version +
                      "</string></dict></plist>\n");
    writeFileText(bundle / "Contents/MacOS/Quorvel", "#!/bin/sh\necho " + version + "\n");
    fs::permissions(bundle / "Contents/MacOS/Quorvel", fs::perms::owner_exec,
                    fs::perm_options::add);
    writeFileText(bundle / "Contents/Frameworks/libQuorvelShellBridge.so.1", "library " + version);
    fs::create_symlink("libQuorvelShellBridge.so.1",
                       bundle / "Contents/Frameworks/libQuorvelShellBridge.so");
    writeFileText(bundle / "Contents/Resources/strings/en.txt", "Status unknown\n");
    writeFileText(
        bundle / "Contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS/QuorvelLauncher",
        "launcher");
    return bundle;
}

inline int sign(const std::filesystem::path& bundle, const TestKey& key) {
    return runCommand({codesignTool(), "sign", "--key", key.privateKey, bundle.string()}).status;
}

inline int verify(const std::filesystem::path& bundle, const TestKey& key) {
    return runCommand({codesignTool(), "verify", "--deep", "--strict", "--trusted-key",
                       key.publicKey, bundle.string()})
        .status;
}

// A snapshot archive of the given top-level entries of `folder`, as the updater keeps it.
inline void makeArchive(const std::filesystem::path& archive, const std::filesystem::path& folder,
                        const std::vector<std::string>& entries) {
    std::vector<std::string> command{"bsdtar",         "-c", "-z",           "-f",
                                     archive.string(), "-C", folder.string()};
    command.insert(command.end(), entries.begin(), entries.end());
    ASSERT_EQ(runCommand(command).status, 0);
}

// Names in a folder, hidden ones included, sorted.
inline std::vector<std::string> listing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// True once the process is gone or a zombie that only awaits its parent.
inline bool processEnded(pid_t pid) {
    std::string stat = readFileText("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty())
        return true;
    auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

} // namespace quorvel::test

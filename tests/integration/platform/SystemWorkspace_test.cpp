#include "base/MainLoop.h"
#include "platform/SystemWorkspace.h"
#include "support/ChildProcess.h"
#include "support/GLibPump.h"
#include "support/HostBundle.h"
#include "support/TemporaryDirectory.h"

#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::pumpFor;
using test::pumpUntil;
using test::TemporaryDirectory;

std::vector<std::string> nulSeparated(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : test::readFileText(path)) {
        if (c == '\0') {
            parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    return parts;
}

bool processExists(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

class SystemWorkspaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = new TemporaryDirectory();
        bundleA = test::makeHostBundle(root->path() / "a");
        bundleB = test::makeHostBundle(root->path() / "b");
        other = test::makeHostBundle(root->path() / "c",
                                     {"--name", "Other.app", "--identifier", "org.example.other"});
    }
    static void TearDownTestSuite() {
        test::killProcessesRunningBelow(root->path());
        delete root;
    }
    void TearDown() override {
        test::killProcessesRunningBelow(root->path());
        pumpFor(50ms); // let pending exits and answers go
    }

    static FileURL url(const std::filesystem::path& path) { return FileURL{path.string()}; }

    // The scan covers the whole machine; other tests run host bundles too. Only this suite's.
    std::vector<RunningApplication> ours(std::string_view identifier) {
        std::vector<RunningApplication> result;
        std::string prefix = std::filesystem::weakly_canonical(root->path()).string() + "/";
        for (auto& application : workspace->runningApplications(identifier)) {
            if (application.executableURL && application.executableURL->path.starts_with(prefix)) {
                result.push_back(application);
            }
        }
        return result;
    }

    // Opens the bundle and pumps until the one answer arrives.
    Expected<RunningApplication, WorkspaceError> open(const std::filesystem::path& bundle,
                                                      OpenConfiguration configuration) {
        std::optional<Expected<RunningApplication, WorkspaceError>> answer;
        int answers = 0;
        bool answeredInPlace = true;
        bool onMainThread = false;
        workspace->openApplication(url(bundle), configuration,
                                   [&](Expected<RunningApplication, WorkspaceError> result) {
                                       ++answers;
                                       onMainThread = isProcessMainThread();
                                       answer.emplace(std::move(result));
                                   });
        answeredInPlace = answers > 0;
        EXPECT_FALSE(answeredInPlace);
        EXPECT_TRUE(pumpUntil([&] { return answers > 0; }));
        pumpFor(30ms);
        EXPECT_EQ(answers, 1);
        EXPECT_TRUE(onMainThread);
        return answer.value_or(unexpected(WorkspaceError{"no answer"}));
    }

    static inline TemporaryDirectory* root = nullptr;
    static inline std::filesystem::path bundleA, bundleB, other;
    std::shared_ptr<SystemWorkspace> workspace = SystemWorkspace::create();
};

TEST_F(SystemWorkspaceTest, OpensABundleWithArgumentsAndEnvironmentInItsOwnSession) {
    OpenConfiguration configuration;
    configuration.arguments = {"--quorvel-background-launch", "two words"};
    configuration.environment = std::map<std::string, std::string>{{"QUORVEL_TEST_MARK", "42"}};
    auto answer = open(bundleA, configuration);
    ASSERT_TRUE(answer) << answer.error().message;
    EXPECT_EQ(answer->bundleIdentifier, "com.quorvel.desktop");
    EXPECT_EQ(answer->executableURL, url(test::hostExecutable(bundleA)));
    pid_t pid = answer->processIdentifier;
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::getsid(pid), pid);
    auto arguments = nulSeparated("/proc/" + std::to_string(pid) + "/cmdline");
    EXPECT_EQ(arguments, (std::vector<std::string>{test::hostExecutable(bundleA).string(),
                                                   "--quorvel-background-launch", "two words"}));
    auto environment = nulSeparated("/proc/" + std::to_string(pid) + "/environ");
    EXPECT_NE(std::find(environment.begin(), environment.end(), "QUORVEL_TEST_MARK=42"),
              environment.end());
    const char* path = std::getenv("PATH");
    ASSERT_TRUE(path);
    EXPECT_NE(std::find(environment.begin(), environment.end(), std::string("PATH=") + path),
              environment.end());

    // Already running: the same application comes back and nothing new is started.
    auto again = open(bundleA, {});
    ASSERT_TRUE(again);
    EXPECT_EQ(again->processIdentifier, pid);
    EXPECT_EQ(test::processesRunning(test::hostExecutable(bundleA)), std::vector<pid_t>{pid});

    // A bundle that cannot be read is an error, answered once and later as well.
    EXPECT_FALSE(open(root->path() / "missing/Nothing.app", {}));
}

TEST_F(SystemWorkspaceTest, FindsRunningBundlesByIdentifierAndOpensItsOwnCopyBesideAnother) {
    ChildProcess copy({test::hostExecutable(bundleB).string()}, {});
    ChildProcess unrelated({test::hostExecutable(other).string()}, {});
    ASSERT_TRUE(test::waitUntil([&] { return ours("com.quorvel.desktop").size() == 1; }));
    auto running = ours("com.quorvel.desktop");
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].processIdentifier, copy.pid());
    EXPECT_EQ(running[0].executableURL, url(test::hostExecutable(bundleB)));
    ASSERT_TRUE(test::waitUntil([&] { return ours("org.example.other").size() == 1; }));
    EXPECT_EQ(ours("org.example.other")[0].processIdentifier, unrelated.pid());

    // The copy elsewhere is not the bundle asked for: a process of bundle A is started.
    auto answer = open(bundleA, {});
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->processIdentifier, copy.pid());
    EXPECT_EQ(answer->executableURL, url(test::hostExecutable(bundleA)));
    running = ours("com.quorvel.desktop");
    ASSERT_EQ(running.size(), 2u);
    EXPECT_TRUE(copy.running());
}

TEST_F(SystemWorkspaceTest, ReportsEachExitOnceAndReapsItsChildren) {
    std::vector<RunningApplication> exits;
    std::string prefix = std::filesystem::weakly_canonical(root->path()).string() + "/";
    auto token = workspace->observeTerminations([&](const RunningApplication& application) {
        EXPECT_TRUE(isProcessMainThread());
        // Host apps of other tests on this machine are watched too once a scan has seen them.
        if (application.executableURL && application.executableURL->path.starts_with(prefix)) {
            exits.push_back(application);
        }
    });
    auto answer = open(bundleA, {});
    ASSERT_TRUE(answer);
    pid_t pid = answer->processIdentifier;
    // The scan must not add a second watch for the same process.
    EXPECT_EQ(ours("com.quorvel.desktop").size(), 1u);
    ::kill(pid, SIGKILL);
    ASSERT_TRUE(pumpUntil([&] { return !exits.empty(); }));
    pumpFor(200ms);
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0], *answer);
    // Reaped: not even a zombie is left, and the scan no longer reports it.
    EXPECT_FALSE(processExists(pid));
    EXPECT_TRUE(ours("com.quorvel.desktop").empty());

    // A process the workspace only saw in a scan is watched too.
    ChildProcess copy({test::hostExecutable(bundleB).string()}, {});
    ASSERT_TRUE(test::waitUntil([&] { return ours("com.quorvel.desktop").size() == 1; }));
    copy.signal(SIGTERM);
    ASSERT_TRUE(pumpUntil([&] { return exits.size() == 2; }));
    EXPECT_EQ(exits[1].processIdentifier, copy.pid());
    EXPECT_EQ(exits[1].executableURL, url(test::hostExecutable(bundleB)));

    // A released token hears nothing more.
    token.reset();
    auto second = open(bundleA, {});
    ASSERT_TRUE(second);
    ::kill(second->processIdentifier, SIGKILL);
    ASSERT_TRUE(test::waitUntil([&] {
        pumpFor(10ms);
        return !processExists(second->processIdentifier);
    }));
    EXPECT_EQ(exits.size(), 2u);
}

TEST_F(SystemWorkspaceTest, AnApplicationThatExitsAtOnceIsReportedAndReaped) {
    // A bundle whose executable ends as soon as it starts: it may be gone before the workspace
    // starts watching it.
    auto quick = test::makeHostBundle(root->path() / "quick", {"--name", "Quick.app"});
    std::filesystem::copy_file("/bin/true", test::hostExecutable(quick),
                               std::filesystem::copy_options::overwrite_existing);
    for (int round = 0; round < 5; ++round) {
        std::vector<RunningApplication> exits;
        auto token = workspace->observeTerminations([&](const RunningApplication& application) {
            if (application.executableURL == url(test::hostExecutable(quick)))
                exits.push_back(application);
        });
        auto answer = open(quick, {});
        ASSERT_TRUE(answer);
        ASSERT_TRUE(pumpUntil([&] { return !exits.empty(); }))
            << "no exit reported in round " << round;
        pumpFor(20ms);
        EXPECT_EQ(exits.size(), 1u);
        EXPECT_EQ(exits[0].processIdentifier, answer->processIdentifier);
        EXPECT_FALSE(processExists(answer->processIdentifier))
            << "left a zombie in round " << round;
    }
}

TEST_F(SystemWorkspaceTest, NeverReportsAZombie) {
    // A child of the test that exited but was not reaped yet.
    ChildProcess copy({test::hostExecutable(bundleB).string()}, {});
    ASSERT_TRUE(test::waitUntil(
        [&] { return !test::processesRunning(test::hostExecutable(bundleB)).empty(); }));
    ::kill(copy.pid(), SIGKILL);
    ASSERT_TRUE(test::waitUntil([&] {
        return test::readFileText("/proc/" + std::to_string(copy.pid()) + "/stat").find(") Z ") !=
               std::string::npos;
    }));
    EXPECT_TRUE(ours("com.quorvel.desktop").empty());
}

} // namespace
} // namespace quorvel

#include "lifecycle/LifecycleBridge.h"
#include "quorvel_shell_bridge.h"
#include "support/ManualMainLoop.h"

#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace quorvel;

namespace {

struct Received {
    std::vector<std::tuple<std::uint32_t, std::uint32_t, void*>> calls;
};

void record(std::uint32_t code, std::uint32_t detail, void* context) {
    static_cast<Received*>(context)->calls.emplace_back(code, detail, context);
}

// The lifecycle C functions over a manual main loop and hand-posted notifications.
class LifecycleBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainLoop::setShared(loop);
        setLifecyclePlatformFactoryForTesting([this] {
            ++platformsMade;
            LifecyclePlatform platform;
            platform.workspaceCenter = workspace;
            platform.distributedCenter = distributed;
            platform.session = [this] { return session; };
            return platform;
        });
    }
    void TearDown() override {
        resetLifecycleInstallationForTesting();
        setLifecyclePlatformFactoryForTesting({});
        setFocusHandOffPlatformFactoryForTesting({});
        MainLoop::setShared(nullptr);
    }

    std::shared_ptr<test::ManualMainLoop> loop = std::make_shared<test::ManualMainLoop>();
    std::shared_ptr<LocalNotificationCenter> workspace = LocalNotificationCenter::create();
    std::shared_ptr<LocalNotificationCenter> distributed = LocalNotificationCenter::create();
    std::optional<SessionDictionary> session =
        SessionDictionary{{sessionKey::onConsole, true},
                          {sessionKey::loginDone, true},
                          {sessionKey::screenIsLocked, false}};
    int platformsMade = 0;
};

class FakeActivator : public ApplicationActivator {
public:
    std::vector<RunningApplication> running;
    std::vector<std::int32_t> activated;
    std::vector<std::string> asked;
    std::vector<RunningApplication>
    runningApplications(std::string_view bundleIdentifier) override {
        asked.emplace_back(bundleIdentifier);
        return running;
    }
    void activate(const RunningApplication& application) override {
        activated.push_back(application.processIdentifier);
    }
};

class FakePoster : public DistributedNotificationPoster {
public:
    std::mutex mutex;
    std::vector<std::string> posted;
    void post(std::string_view name) override {
        std::lock_guard lock(mutex);
        posted.emplace_back(name);
    }
};

RunningApplication copyWithPid(std::int32_t pid) {
    return RunningApplication{"com.quorvel.desktop", pid,
                              FileURL{"/opt/Quorvel.app/Contents/MacOS/Quorvel"}};
}

} // namespace

TEST_F(LifecycleBridgeTest, ANullCallbackInstallsNothing) {
    EXPECT_EQ(quorvel_lifecycle_install(nullptr, nullptr), 0);
    EXPECT_EQ(installedLifecycleMonitor(), nullptr);
    Received received;
    EXPECT_EQ(quorvel_lifecycle_install(record, &received), 1);
    EXPECT_EQ(quorvel_lifecycle_install(nullptr, nullptr), 1);
    EXPECT_EQ(received.calls.size(), 1u);
}

namespace {
std::int32_t nestedResult = -1;
void installAgainFromInside(std::uint32_t, std::uint32_t, void*) {
    if (nestedResult == -1)
        nestedResult = quorvel_lifecycle_install(installAgainFromInside, nullptr);
}
} // namespace

TEST_F(LifecycleBridgeTest, InstallingFromInsideTheInitialDeliveryFindsTheMonitorInstalled) {
    EXPECT_EQ(quorvel_lifecycle_install(installAgainFromInside, nullptr), 1);
    EXPECT_EQ(nestedResult, 1);
    EXPECT_EQ(platformsMade, 1);
}

TEST_F(LifecycleBridgeTest, FocusHandOffActivatesOneOtherCopyAndAlwaysPosts) {
    auto activator = std::make_shared<FakeActivator>();
    auto poster = std::make_shared<FakePoster>();
    setFocusHandOffPlatformFactoryForTesting([&] {
        return FocusHandOffPlatform{activator, poster};
    });
    std::int32_t self = static_cast<std::int32_t>(::getpid());

    activator->running = {copyWithPid(self)};
    quorvel_application_focus_existing();
    EXPECT_TRUE(activator->activated.empty());

    activator->running = {copyWithPid(self), copyWithPid(self + 7), copyWithPid(self + 9)};
    // Any thread may ask.
    std::thread worker([] { quorvel_application_focus_existing(); });
    worker.join();
    EXPECT_EQ(activator->activated, std::vector<std::int32_t>{self + 7});

    activator->running.clear();
    quorvel_application_focus_existing();
    EXPECT_EQ(activator->activated.size(), 1u);
    EXPECT_EQ(activator->asked, std::vector<std::string>(3, "com.quorvel.desktop"));
    EXPECT_EQ(poster->posted, std::vector<std::string>(3, "com.quorvel.desktop.focus-existing"));

    // What the poster posts reaches an installed monitor as code 9.
    Received received;
    ASSERT_EQ(quorvel_lifecycle_install(record, &received), 1);
    distributed->post(poster->posted.back());
    ASSERT_EQ(received.calls.size(), 2u);
    EXPECT_EQ(received.calls[1], std::make_tuple(9u, 0u, static_cast<void*>(&received)));
}

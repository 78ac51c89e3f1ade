#include "LogindMock.h"
#include "lifecycle/LifecycleBridge.h"
#include "quorvel_shell_bridge.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

using namespace quorvel;
using namespace quorvel::test;
using namespace std::chrono_literals;
using Codes = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

namespace {

Codes received;

void record(std::uint32_t code, std::uint32_t detail, void*) {
    received.emplace_back(code, detail);
}

// The lifecycle C functions of this process over the real Linux platform, talking to the mock.
class LifecycleLogind : public ::testing::Test {
protected:
    void SetUp() override {
        received.clear();
        // The session is found through logind as on a desktop; $XDG_SESSION_ID names the mock's.
        ::setenv("XDG_SESSION_ID", "c1", 1);
        setLifecyclePlatformFactoryForTesting([this] {
            return makeSystemLifecyclePlatform(
                {logind.systemConnection, logind.sessionConnection, std::nullopt});
        });
    }
    void TearDown() override {
        resetLifecycleInstallationForTesting();
        setLifecyclePlatformFactoryForTesting({});
    }

    Codes take() { return std::exchange(received, {}); }
    // The initial code of a fresh installation in the session as it is now.
    Codes installAgain() {
        resetLifecycleInstallationForTesting();
        EXPECT_EQ(quorvel_lifecycle_install(record, nullptr), 1);
        return take(); // delivered inside the call
    }
    // Waits for the count of codes, then makes sure nothing else was on its way.
    Codes awaitCodes(std::size_t count) {
        EXPECT_TRUE(pumpUntil([&] { return received.size() >= count; })) << logind.log();
        logind.barrier();
        return take();
    }

    LogindMock logind;
};

} // namespace

TEST_F(LifecycleLogind, InitialDetailFollowsTheSession) {
    EXPECT_EQ(installAgain(), (Codes{{1, 1}})); // no session
    logind.addSession(true);
    EXPECT_EQ(installAgain(), (Codes{{1, 7}})); // an unlocked console session
    logind.setSessionProperty("LockedHint", g_variant_new_int32(2));
    EXPECT_EQ(installAgain(), (Codes{{1, 5}})); // a lock value that is no boolean
    logind.setLockedHint(true);
    logind.setSessionProperty("Active", g_variant_new_boolean(FALSE));
    EXPECT_EQ(installAgain(), (Codes{{1, 1}})); // locked and inactive
}

TEST_F(LifecycleLogind, SleepWakeLockSessionAndPowerOffEachBecomeTheirCode) {
    logind.addSession(true);
    ASSERT_EQ(quorvel_lifecycle_install(record, nullptr), 1);
    EXPECT_EQ(take(), (Codes{{1, 7}}));

    // Sleep, then wake followed by the lock state.
    logind.emitManagerSignal("PrepareForSleep", true);
    EXPECT_EQ(awaitCodes(1), (Codes{{2, 0}}));
    logind.emitManagerSignal("PrepareForSleep", false);
    EXPECT_EQ(awaitCodes(2), (Codes{{3, 0}, {5, 0}}));

    // Session resigned and active again; a property set to what it was is no change.
    logind.setSessionProperty("Active", g_variant_new_boolean(FALSE));
    EXPECT_EQ(awaitCodes(1), (Codes{{7, 0}}));
    logind.setSessionProperty("Active", g_variant_new_boolean(FALSE));
    logind.setSessionProperty("Active", g_variant_new_boolean(TRUE));
    EXPECT_EQ(awaitCodes(1), (Codes{{6, 0}}));

    // logind's Lock only asks the locker: until its hint says so the screen is not locked, and
    // the poll that follows has nothing to correct.
    logind.call(LogindMock::sessionPath, "org.freedesktop.login1.Session", "Lock", nullptr);
    EXPECT_EQ(awaitCodes(0), Codes{});
    pumpFor(5500ms);
    EXPECT_EQ(take(), Codes{});
    // Lock and unlock once each, as a desktop does on request: logind's signal, then the hint.
    logind.setLockedHint(true);
    EXPECT_EQ(awaitCodes(1), (Codes{{4, 0}}));
    logind.call(LogindMock::sessionPath, "org.freedesktop.login1.Session", "Unlock", nullptr);
    logind.setLockedHint(false);
    EXPECT_EQ(awaitCodes(1), (Codes{{5, 0}}));
    // A locker that only sets the hint (an idle lock); waking reports the lock state.
    logind.setLockedHint(true);
    EXPECT_EQ(awaitCodes(1), (Codes{{4, 0}}));
    logind.emitManagerSignal("PrepareForSleep", false);
    EXPECT_EQ(awaitCodes(2), (Codes{{3, 0}, {4, 0}}));
    // Two polls later nothing more has come.
    pumpFor(11s);
    EXPECT_TRUE(take().empty());

    // A lock value that is no boolean gives no reading, neither on waking nor to the poll.
    for (GVariant* unreadable : {g_variant_new_int32(2), g_variant_new_string("locked")}) {
        logind.setSessionProperty("LockedHint", unreadable);
        logind.emitManagerSignal("PrepareForSleep", false);
        EXPECT_EQ(awaitCodes(1), (Codes{{3, 0}}));
        pumpFor(5500ms);
        EXPECT_TRUE(take().empty());
    }
    // Readable again: the change of the hint is an unlock like any other.
    logind.setSessionProperty("LockedHint", g_variant_new_boolean(FALSE));
    EXPECT_EQ(awaitCodes(1), (Codes{{5, 0}}));

    logind.emitManagerSignal("PrepareForShutdown", false);
    logind.emitManagerSignal("PrepareForShutdown", true);
    EXPECT_EQ(awaitCodes(1), (Codes{{8, 0}}));

    // Others pretending to be logind on the system bus, or posting a screen lock on the session
    // bus, are not heard; a focus request from anyone is.
    g_dbus_connection_emit_signal(logind.driver, nullptr, LogindMock::managerPath,
                                  "org.freedesktop.login1.Manager", "PrepareForSleep",
                                  g_variant_new("(b)", TRUE), nullptr);
    for (const char* name : {"screen-is-locked", "com.quorvel.desktop.focus-existing"}) {
        g_dbus_connection_emit_signal(
            logind.sessionDriver, nullptr, "/com/quorvel/desktop/Notifications",
            "com.quorvel.desktop.Notifications", "Posted", g_variant_new("(s)", name), nullptr);
    }
    g_dbus_connection_flush_sync(logind.driver, nullptr, nullptr);
    EXPECT_EQ(awaitCodes(1), (Codes{{9, 0}}));
}

TEST_F(LifecycleLogind, EachEndingOfTheSessionIsOnePowerOff) {
    enum Step { shutdown, shutdownCalledOff, closing, otherRemoved, removed };
    struct Case {
        const char* name;
        std::vector<std::pair<Step, Codes>> steps; // each with the codes it brings
    };
    const Codes powerOff{{8, 0}};
    const std::vector<Case> endings{
        {"logout", {{closing, powerOff}, {removed, {}}}},
        {"shutdown", {{shutdown, powerOff}, {closing, {}}, {removed, {}}}},
        {"removed unannounced", {{otherRemoved, {}}, {removed, powerOff}}},
        {"shutdown called off, then logout",
         {{shutdown, powerOff}, {shutdownCalledOff, {}}, {closing, powerOff}, {removed, {}}}},
    };
    for (const Case& ending : endings) {
        logind.addSession(true);
        EXPECT_EQ(installAgain(), (Codes{{1, 7}})) << ending.name;
        for (const auto& [step, codes] : ending.steps) {
            switch (step) {
            case shutdown:
            case shutdownCalledOff:
                logind.emitManagerSignal("PrepareForShutdown", step == shutdown);
                break;
            case closing:
                logind.setSessionProperty("State", g_variant_new_string("closing"));
                break;
            case otherRemoved:
                logind.emitSessionRemoved("c9");
                break;
            case removed:
                logind.removeSession();
                break;
            }
            EXPECT_EQ(awaitCodes(codes.size()), codes) << ending.name << ", step " << step;
        }
    }
}

TEST_F(LifecycleLogind, InstalledOnceOnTheMainThreadWithTheFirstCallback) {
    logind.addSession(true);
    std::int32_t result = -1;
    std::thread worker([&] { result = quorvel_lifecycle_install(record, nullptr); });
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(installedLifecycleMonitor(), nullptr);
    logind.emitManagerSignal("PrepareForSleep", true);
    logind.barrier();
    EXPECT_TRUE(take().empty());

    static Codes second;
    ASSERT_EQ(quorvel_lifecycle_install(record, nullptr), 1);
    EXPECT_EQ(quorvel_lifecycle_install([](std::uint32_t code, std::uint32_t detail,
                                           void*) { second.emplace_back(code, detail); },
                                        nullptr),
              1);
    EXPECT_EQ(take(), (Codes{{1, 7}}));
    logind.emitManagerSignal("PrepareForSleep", true);
    EXPECT_EQ(awaitCodes(1), (Codes{{2, 0}}));
    EXPECT_TRUE(second.empty());

    // A focus hand-off posted in this process, from any thread, reaches its own monitor.
    setFocusHandOffPlatformFactoryForTesting(
        [this] { return makeSystemFocusHandOffPlatform(logind.sessionConnection); });
    std::thread asking([] { quorvel_application_focus_existing(); });
    asking.join();
    EXPECT_TRUE(pumpUntil([] { return !received.empty(); }));
    EXPECT_EQ(take(), (Codes{{9, 0}}));
    setFocusHandOffPlatformFactoryForTesting({});
}

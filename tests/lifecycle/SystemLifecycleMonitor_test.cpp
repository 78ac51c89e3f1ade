#include "lifecycle/SystemLifecycleMonitor.h"
#include "support/ManualMainLoop.h"

#include <gtest/gtest.h>

using namespace quorvel;
using Delivery = std::pair<std::uint32_t, std::uint32_t>;
using Deliveries = std::vector<Delivery>;

namespace {

namespace name = lifecycleNotification;

struct Harness {
    std::shared_ptr<test::ManualMainLoop> loop = std::make_shared<test::ManualMainLoop>();
    std::shared_ptr<LocalNotificationCenter> workspace = LocalNotificationCenter::create();
    std::shared_ptr<LocalNotificationCenter> distributed = LocalNotificationCenter::create();
    std::optional<SessionDictionary> session;
    int sessionReads = 0;
    Deliveries deliveries;
    std::shared_ptr<SystemLifecycleMonitor> monitor;

    explicit Harness(std::optional<SessionDictionary> initial) : session(std::move(initial)) {
        monitor = SystemLifecycleMonitor::create(
            workspace, distributed,
            [this] {
                ++sessionReads;
                return session;
            },
            [this](SystemLifecycleCode code, std::uint32_t detail) {
                deliveries.emplace_back(rawValue(code), detail);
            },
            loop);
    }

    Deliveries take() { return std::exchange(deliveries, {}); }
    void setLocked(std::optional<SessionValue> value) {
        session = SessionDictionary{{sessionKey::onConsole, true}, {sessionKey::loginDone, true}};
        if (value)
            session->emplace(sessionKey::screenIsLocked, *value);
    }
};

SessionDictionary consoleSession(bool locked) {
    return {{sessionKey::onConsole, true},
            {sessionKey::loginDone, true},
            {sessionKey::screenIsLocked, locked}};
}

} // namespace

TEST(SystemLifecycleMonitor, StartDeliversTheInitialCodeOnceAndSubscribes) {
    Harness unlocked(consoleSession(false));
    unlocked.monitor->start();
    EXPECT_EQ(unlocked.take(), (Deliveries{{1, 7}}));
    EXPECT_EQ(unlocked.monitor->lastLocked(), false);
    EXPECT_EQ(unlocked.workspace->observerCount(), 5u);
    EXPECT_EQ(unlocked.distributed->observerCount(), 3u);
    EXPECT_EQ(unlocked.loop->activeTimerCount(), 1u);
    unlocked.monitor->start();
    EXPECT_TRUE(unlocked.take().empty());
    EXPECT_EQ(unlocked.workspace->observerCount(), 5u);
    EXPECT_EQ(unlocked.loop->activeTimerCount(), 1u);

    Harness locked(consoleSession(true));
    locked.monitor->start();
    EXPECT_EQ(locked.take(), (Deliveries{{1, 5}}));
    EXPECT_EQ(locked.monitor->lastLocked(), true);

    Harness none(std::nullopt);
    none.monitor->start();
    EXPECT_EQ(none.take(), (Deliveries{{1, 1}}));
    EXPECT_EQ(none.monitor->lastLocked(), true);
}

TEST(SystemLifecycleMonitor, EachNotificationBecomesItsCode) {
    Harness h(consoleSession(false));
    h.monitor->start();
    h.take();
    h.workspace->post(name::willSleep);
    h.workspace->post(name::sessionDidBecomeActive);
    h.workspace->post(name::sessionDidResignActive);
    h.workspace->post(name::willPowerOff);
    h.distributed->post(name::focusExisting);
    h.distributed->post("com.quorvel.desktop.something-else");
    h.workspace->post(name::focusExisting); // a name is only heard on its own center
    EXPECT_EQ(h.take(), (Deliveries{{2, 0}, {6, 0}, {7, 0}, {8, 0}, {9, 0}}));

    // A lock notification is delivered even when the state did not change.
    h.distributed->post(name::screenIsLocked);
    EXPECT_EQ(h.monitor->lastLocked(), true);
    h.distributed->post(name::screenIsLocked);
    h.distributed->post(name::screenIsUnlocked);
    EXPECT_EQ(h.monitor->lastLocked(), false);
    EXPECT_EQ(h.take(), (Deliveries{{4, 0}, {4, 0}, {5, 0}}));
}

TEST(SystemLifecycleMonitor, WakingReportsTheLockStateWhenTheSessionHasOne) {
    Harness h(consoleSession(false));
    h.monitor->start();
    h.take();
    h.setLocked(true);
    h.workspace->post(name::didWake);
    EXPECT_EQ(h.take(), (Deliveries{{3, 0}, {4, 0}}));
    EXPECT_EQ(h.monitor->lastLocked(), true);
    h.workspace->post(name::didWake); // sent again although unchanged
    EXPECT_EQ(h.take(), (Deliveries{{3, 0}, {4, 0}}));
    h.setLocked(std::nullopt); // no key: not locked
    h.workspace->post(name::didWake);
    EXPECT_EQ(h.take(), (Deliveries{{3, 0}, {5, 0}}));

    for (SessionValue unreadable :
         {SessionValue{std::int64_t{2}}, SessionValue{std::string("locked")}}) {
        h.setLocked(unreadable);
        h.workspace->post(name::didWake);
        EXPECT_EQ(h.take(), (Deliveries{{3, 0}}));
        EXPECT_EQ(h.monitor->lastLocked(), false);
    }
    h.session.reset();
    h.workspace->post(name::didWake);
    EXPECT_EQ(h.take(), (Deliveries{{3, 0}}));
}

TEST(SystemLifecycleMonitor, ThePollDeliversOnlyChangesNoNotificationAnnounced) {
    Harness h(std::nullopt);
    h.monitor->start();
    EXPECT_EQ(h.take(), (Deliveries{{1, 1}}));
    int readsAtStart = h.sessionReads;

    h.loop->advance(4.5);
    EXPECT_EQ(h.sessionReads, readsAtStart);
    h.loop->advance(0.5); // no dictionary yet: silent
    EXPECT_EQ(h.sessionReads, readsAtStart + 1);
    EXPECT_TRUE(h.take().empty());

    h.setLocked(false); // the session appears unlocked: lastLocked started as true
    h.loop->advance(5.0);
    EXPECT_EQ(h.take(), (Deliveries{{5, 0}}));
    h.loop->advance(15.0);
    EXPECT_TRUE(h.take().empty());

    h.setLocked(std::int64_t{1}); // a missed lock
    h.loop->advance(5.0);
    EXPECT_EQ(h.take(), (Deliveries{{4, 0}}));

    // Notifications keep the poll from repeating them.
    h.setLocked(false);
    h.distributed->post(name::screenIsUnlocked);
    h.loop->advance(10.0);
    EXPECT_EQ(h.take(), (Deliveries{{5, 0}}));

    for (SessionValue unreadable :
         {SessionValue{std::int64_t{2}}, SessionValue{std::string("yes")}}) {
        h.setLocked(unreadable);
        h.loop->advance(5.0);
        EXPECT_TRUE(h.take().empty());
        EXPECT_EQ(h.monitor->lastLocked(), false);
    }
}

TEST(SystemLifecycleMonitor, AMonitorThatIsGoneHearsNothing) {
    Harness h(consoleSession(false));
    h.monitor->start();
    h.take();
    h.monitor.reset();
    EXPECT_EQ(h.loop->activeTimerCount(), 0u);
    EXPECT_EQ(h.workspace->observerCount(), 0u);
    EXPECT_EQ(h.distributed->observerCount(), 0u);
    h.workspace->post(name::willSleep);
    h.distributed->post(name::focusExisting);
    h.loop->advance(20.0);
    EXPECT_TRUE(h.take().empty());
}

TEST(LocalNotificationCenter, HandlersMayCancelWhileANotificationIsDelivered) {
    auto center = LocalNotificationCenter::create();
    std::vector<std::string> heard;
    ObservationHandle second;
    auto first = center->observe("n", [&] {
        heard.push_back("first");
        second.reset();
    });
    second = center->observe("n", [&] { heard.push_back("second"); });
    auto other = center->observe("m", [&] { heard.push_back("other"); });
    center->post("n");
    center->post("n");
    EXPECT_EQ(heard, (std::vector<std::string>{"first", "first"}));
    EXPECT_EQ(center->observerCount(), 2u);
    // A token that outlives its center is harmless.
    center.reset();
    first.reset();
}

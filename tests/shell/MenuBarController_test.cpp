#include "FakeStatusBar.h"
#include "SnapshotDocuments.h"
#include "shell/MenuBarController.h"
#include "support/ManualMainLoop.h"

#include <gtest/gtest.h>

using namespace quorvel;
using namespace quorvel::test;

namespace {

class MenuBarControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        loop = std::make_shared<ManualMainLoop>();
        MainLoop::setShared(loop);
        bar = std::make_shared<FakeStatusBar>();
    }
    void TearDown() override {
        controller.reset();
        MainLoop::setShared(nullptr);
    }

    void create() {
        controller = MenuBarController::create(
            bar, [this](ShellCommand command) { sent.push_back(command); });
        ASSERT_TRUE(controller);
    }

    static RecorderSnapshot snapshot(std::uint64_t seq,
                                     RecorderState state = RecorderState::recording) {
        auto s = *RecorderSnapshot::decode(dumpCompact(minimalSnapshotDocument()));
        s.seq = seq;
        s.state = state;
        s.captureLive = true;
        return s;
    }

    std::shared_ptr<ManualMainLoop> loop;
    std::shared_ptr<FakeStatusBar> bar;
    std::shared_ptr<MenuBarController> controller;
    std::vector<ShellCommand> sent;
};

} // namespace

TEST_F(MenuBarControllerTest, CreationFailsWithoutAButtonAndTakesTheItemDown) {
    bar->item->button = false;
    EXPECT_FALSE(
        MenuBarController::create(bar, [this](ShellCommand command) { sent.push_back(command); }));
    EXPECT_TRUE(bar->item->removed);
    EXPECT_EQ(loop->activeTimerCount(), 0u);
    EXPECT_TRUE(sent.empty());
}

TEST_F(MenuBarControllerTest, LowerSequenceNumbersAreIgnoredAndEqualOnesRestartTheClock) {
    create();
    controller->apply(snapshot(7));
    EXPECT_EQ(bar->item->row(0).title, "Recording");
    auto drawn = bar->item->buttons.size();
    controller->apply(snapshot(5, RecorderState::paused));
    EXPECT_EQ(controller->snapshot()->seq, 7u);
    EXPECT_EQ(bar->item->buttons.size(), drawn); // nothing redrawn

    loop->advance(2.5);
    controller->apply(snapshot(7, RecorderState::paused));
    EXPECT_EQ(bar->item->row(0).title, "Paused");
    loop->advance(2.9);
    EXPECT_EQ(bar->item->row(0).title, "Paused"); // 2.9 s after the repeat, still fresh
}

TEST_F(MenuBarControllerTest, SilenceTurnsIntoStatusUnknownOnTheFirstTickPastThreeSeconds) {
    create();
    loop->advance(0.5);
    controller->apply(snapshot(1)); // received half-way between two ticks
    loop->advance(3.0);             // ticks at 1 s, 2 s, 3 s after creation: ages 0.5, 1.5, 2.5 s
    EXPECT_EQ(bar->item->row(0).title, "Recording");
    loop->advance(0.5); // tick at 4 s: age 3.5 s
    EXPECT_EQ(bar->item->row(0).title, "Status unknown");
    EXPECT_EQ(bar->item->buttons.back().badgeSymbol, "questionmark.circle");

    // A wall clock set backwards makes the snapshot look fresh, not stale.
    controller->apply(snapshot(2));
    loop->setWallClock(loop->now() - std::chrono::hours(1));
    loop->advance(1.0);
    EXPECT_EQ(bar->item->row(0).title, "Recording");
}

TEST_F(MenuBarControllerTest, FrameNeedsAreaAScreenAndOurMenu) {
    create();
    EXPECT_FALSE(controller->statusItemFrame()); // this platform knows no frame
    bar->item->frame = ScreenRect{1900, 1060, 40, 22};
    EXPECT_EQ(controller->statusItemFrame(), (ScreenRect{1900, 1060, 40, 22})); // partly off screen
    bar->item->frame = ScreenRect{1900, 1060, 0, 22};
    EXPECT_FALSE(controller->statusItemFrame());
    bar->item->frame = ScreenRect{3000, 0, 40, 22};
    EXPECT_FALSE(controller->statusItemFrame());
    bar->item->frame = ScreenRect{10, 10, 40, 22};
    bar->item->visible = false;
    EXPECT_FALSE(controller->statusItemFrame());
    // A menu replaced by somebody else means the item is no longer ours to show.
    bar->item->visible = true;
    bar->item->attachedMenu = std::make_shared<StatusMenu>();
    EXPECT_FALSE(controller->isPresent());
    EXPECT_FALSE(controller->isRequestedVisible());
    EXPECT_FALSE(controller->statusItemFrame());
}

TEST_F(MenuBarControllerTest, RemoveStopsEverythingAndSendsNothing) {
    create();
    bool completed = true;
    ASSERT_TRUE(controller->acknowledgement()->begin(false, [&](bool c) { completed = c; }));
    controller->remove();
    EXPECT_FALSE(completed);
    EXPECT_EQ(bar->item->opacities.back(), 1.0);
    EXPECT_TRUE(bar->item->removed);
    EXPECT_TRUE(bar->item->observers.empty());
    EXPECT_EQ(loop->activeTimerCount(), 0u);
    EXPECT_FALSE(controller->isPresent());
    bar->item->setVisible(false);
    EXPECT_TRUE(sent.empty());
    controller->apply(snapshot(3)); // still stored, nothing visible
    EXPECT_EQ(controller->snapshot()->seq, 3u);
}

TEST_F(MenuBarControllerTest, DroppingTheControllerEndsItsTimersAndCallbacks) {
    create();
    std::weak_ptr<MenuBarController> weak = controller;
    auto menu = bar->item->attachedMenu;
    controller.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(bar->item->removed);
    loop->advance(5.0);
    menu->action(3);
    EXPECT_TRUE(sent.empty());
}

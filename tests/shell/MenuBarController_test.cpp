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

TEST_F(MenuBarControllerTest, BuildsTheMenuAndShowsUnknownAtCreation) {
    create();
    auto& item = *bar->item;
    ASSERT_EQ(item.attachedMenu->items.size(), 10u);
    EXPECT_FALSE(item.attachedMenu->autoenablesItems);
    const std::vector<std::pair<std::string, std::int64_t>> commands{{"Restart to Update", 9},
                                                                     {"Open Quorvel", 3},
                                                                     {"Open Recordings Folder", 6},
                                                                     {"Check for Updates\u2026", 8},
                                                                     {"Quit Quorvel", 10}};
    const std::size_t rows[] = {2, 4, 5, 7, 9};
    for (std::size_t i = 0; i < commands.size(); ++i) {
        EXPECT_EQ(item.row(rows[i]).title, commands[i].first);
        EXPECT_EQ(item.row(rows[i]).tag, commands[i].second);
        EXPECT_TRUE(item.row(rows[i]).enabled);
        EXPECT_TRUE(item.row(rows[i]).keyEquivalent.empty());
    }
    for (std::size_t separator : {1u, 3u, 6u, 8u}) {
        EXPECT_EQ(item.row(separator).kind, StatusMenuItem::Kind::separator);
    }
    EXPECT_TRUE(item.row(1).hidden && item.row(2).hidden && item.row(3).hidden);
    EXPECT_FALSE(item.row(6).hidden || item.row(8).hidden);
    EXPECT_FALSE(item.row(0).enabled);
    EXPECT_EQ(item.row(0).title, "Status unknown");
    EXPECT_EQ(item.row(0).subtitle, "Not reporting");

    ASSERT_EQ(item.buttons.size(), 1u);
    EXPECT_EQ(item.buttons[0].badgeSymbol, "questionmark.circle");
    EXPECT_EQ(item.buttons[0].toolTip, "Quorvel, status unknown");
    EXPECT_EQ(item.buttons[0].accessibilityLabel, "Quorvel");
    EXPECT_EQ(item.buttons[0].accessibilityValue, "Quorvel, status unknown");
    ASSERT_TRUE(item.buttons[0].image);
    EXPECT_TRUE(item.buttons[0].image->isTemplate);
    EXPECT_EQ(item.buttons[0].image->representations.size(), 3u);
    EXPECT_TRUE(controller->isPresent());
    EXPECT_TRUE(controller->isRequestedVisible());
    EXPECT_TRUE(sent.empty());
}

TEST_F(MenuBarControllerTest, CreationFailsWithoutAButtonAndTakesTheItemDown) {
    bar->item->button = false;
    EXPECT_FALSE(
        MenuBarController::create(bar, [this](ShellCommand command) { sent.push_back(command); }));
    EXPECT_TRUE(bar->item->removed);
    EXPECT_EQ(loop->activeTimerCount(), 0u);
    EXPECT_TRUE(sent.empty());
}

TEST_F(MenuBarControllerTest, InvisibleAtCreationSendsStatusUnavailableBeforeReturning) {
    bar->item->visible = false;
    create();
    EXPECT_EQ(sent, std::vector<ShellCommand>{ShellCommand::statusUnavailable});
    EXPECT_TRUE(controller->isPresent());
    EXPECT_FALSE(controller->isRequestedVisible());
}

TEST_F(MenuBarControllerTest, HidingSendsStatusUnavailableAndShowingSendsNothing) {
    create();
    bar->item->setVisible(false);
    bar->item->setVisible(true);
    bar->item->setVisible(false);
    EXPECT_EQ(sent, (std::vector<ShellCommand>{ShellCommand::statusUnavailable,
                                               ShellCommand::statusUnavailable}));
}

TEST_F(MenuBarControllerTest, MenuChoicesArriveAsCommands) {
    create();
    auto& item = *bar->item;
    item.choose("Open Quorvel");
    item.choose("Open Recordings Folder");
    item.choose("Check for Updates\u2026");
    item.choose("Quit Quorvel");
    item.attachedMenu->action(4);  // an unassigned tag
    item.attachedMenu->action(-1); // no command
    item.attachedMenu->action(9);
    EXPECT_EQ(sent, (std::vector<ShellCommand>{ShellCommand::showWindow, ShellCommand::openOutput,
                                               ShellCommand::checkForUpdates, ShellCommand::quit,
                                               ShellCommand::restartToUpdate}));
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
}

TEST_F(MenuBarControllerTest, AWallClockSetBackwardsCountsAsFresh) {
    create();
    controller->apply(snapshot(1));
    loop->setWallClock(loop->now() - std::chrono::hours(1));
    loop->advance(1.0);
    EXPECT_EQ(bar->item->row(0).title, "Recording");
}

TEST_F(MenuBarControllerTest, UpdateItemsFollowThePendingUpdate) {
    create();
    auto s = snapshot(1);
    s.updatePending = "2.4.1";
    controller->apply(s);
    auto& item = *bar->item;
    EXPECT_FALSE(item.row(1).hidden || item.row(2).hidden || item.row(3).hidden);
    EXPECT_EQ(item.row(2).badge, "2.4.1");
    item.choose("Restart to Update");
    EXPECT_EQ(sent, std::vector<ShellCommand>{ShellCommand::restartToUpdate});

    s.seq = 2;
    s.updatePending.reset();
    controller->apply(s);
    EXPECT_TRUE(item.row(1).hidden && item.row(2).hidden && item.row(3).hidden);
    EXPECT_EQ(item.row(2).badge, "2.4.1"); // left as it was; the row is hidden

    s.seq = 3;
    s.updatePending = "2.5";
    controller->apply(s);
    EXPECT_FALSE(item.row(2).hidden);
    loop->advance(4.0); // staleness hides them again
    EXPECT_TRUE(item.row(1).hidden && item.row(2).hidden && item.row(3).hidden);
}

TEST_F(MenuBarControllerTest, EmptyOrUnknownSymbolsShowTheIconAlone) {
    create();
    controller->apply(snapshot(1, RecorderState::ready));
    EXPECT_EQ(bar->item->buttons.back().badgeSymbol, "");
    controller->apply(snapshot(2, RecorderState::recording));
    EXPECT_EQ(bar->item->buttons.back().badgeSymbol, "record.circle.fill");
}

TEST_F(MenuBarControllerTest, AReplacedMenuMeansNotPresent) {
    create();
    bar->item->attachedMenu = std::make_shared<StatusMenu>();
    EXPECT_FALSE(controller->isPresent());
    EXPECT_FALSE(controller->isRequestedVisible());
    EXPECT_FALSE(controller->statusItemFrame());
}

TEST_F(MenuBarControllerTest, FrameNeedsAreaAndAScreen) {
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

TEST_F(MenuBarControllerTest, AcknowledgementDrawsOpacityAndNeedsAVisibleItem) {
    create();
    bar->reduceMotion = true;
    std::vector<bool> completions;
    ASSERT_TRUE(
        controller->acknowledgement()->begin(false, [&](bool c) { completions.push_back(c); }));
    loop->advance(1.0);
    EXPECT_EQ(completions, std::vector<bool>{true});
    EXPECT_EQ(bar->item->opacities.front(), 1.0);
    EXPECT_EQ(bar->item->opacities[1], 0.65);
    EXPECT_EQ(bar->item->opacities.back(), 1.0);

    bar->item->visible = false;
    EXPECT_FALSE(
        controller->acknowledgement()->begin(false, [&](bool c) { completions.push_back(c); }));
    bar->item->visible = true;
    ASSERT_TRUE(
        controller->acknowledgement()->begin(false, [&](bool c) { completions.push_back(c); }));
    controller->cancelAcknowledgement();
    EXPECT_EQ(completions, (std::vector<bool>{true, false}));
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

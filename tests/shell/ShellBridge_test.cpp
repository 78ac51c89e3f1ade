#include "FakeStatusBar.h"
#include "SnapshotDocuments.h"
#include "quorvel_shell_bridge.h"
#include "shell/ShellBridge.h"
#include "support/HostBundle.h"
#include "support/LogCapture.h"
#include "support/ManualMainLoop.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct Received {
    std::vector<std::uint32_t> commands;
    std::vector<std::int32_t> completions;
};

void onCommand(std::uint32_t command, void* context) {
    static_cast<Received*>(context)->commands.push_back(command);
}
void onCompletion(std::int32_t completed, void* context) {
    static_cast<Received*>(context)->completions.push_back(completed);
}

class ShellBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        loop = std::make_shared<ManualMainLoop>();
        MainLoop::setShared(loop);
        bar = std::make_shared<FakeStatusBar>();
        shellbridge::setStatusBar(bar);
        document = dumpCompact(minimalSnapshotDocument());
    }
    void TearDown() override {
        loop->setMainThreadOverride(std::nullopt);
        quorvel_shell_uninstall();
        shellbridge::setStatusBar(nullptr);
        MainLoop::setShared(nullptr);
    }
    int32_t apply(const std::string& text) {
        return quorvel_shell_apply_snapshot(text.data(), static_cast<intptr_t>(text.size()));
    }

    std::shared_ptr<ManualMainLoop> loop;
    std::shared_ptr<FakeStatusBar> bar;
    std::string document;
    Received received;
};

} // namespace

TEST_F(ShellBridgeTest, NothingWorksBeforeInstall) {
    EXPECT_EQ(quorvel_shell_is_installed(), 0);
    EXPECT_EQ(quorvel_shell_is_ready(), 0);
    EXPECT_EQ(quorvel_shell_is_visible(), 0);
    EXPECT_EQ(apply(document), 0);
    EXPECT_EQ(quorvel_shell_acknowledge(0, onCompletion, &received), 0);
    EXPECT_EQ(quorvel_shell_acknowledgement_pending(), 0);
    double x = -1, y = -1, w = -1, h = -1;
    EXPECT_EQ(quorvel_shell_status_item_frame(&x, &y, &w, &h), 0);
    EXPECT_EQ(x, -1);
    quorvel_shell_cancel_acknowledgement();
    quorvel_shell_uninstall();
    quorvel_shell_uninstall();
    EXPECT_TRUE(received.completions.empty());
}

TEST_F(ShellBridgeTest, InstallApplyAndQueries) {
    EXPECT_EQ(quorvel_shell_install(nullptr, nullptr), 0);
    EXPECT_EQ(quorvel_shell_install(onCommand, &received), 1);
    EXPECT_EQ(quorvel_shell_is_installed(), 1);
    EXPECT_EQ(quorvel_shell_is_ready(), quorvel_shell_is_installed());
    EXPECT_EQ(quorvel_shell_is_visible(), 1);
    EXPECT_EQ(apply(document), 1);
    EXPECT_EQ(bar->item->row(0).title, "Ready");
    // Exactly length bytes are read: no terminator is expected and none may sit inside.
    std::string padded = document + "garbage";
    EXPECT_EQ(quorvel_shell_apply_snapshot(padded.data(), static_cast<intptr_t>(document.size())),
              1);
    std::string withNul = document + std::string(1, '\0');
    EXPECT_EQ(quorvel_shell_apply_snapshot(withNul.data(), static_cast<intptr_t>(withNul.size())),
              0);
    EXPECT_EQ(quorvel_shell_apply_snapshot(nullptr, 10), 0);
    EXPECT_EQ(quorvel_shell_apply_snapshot(document.data(), 0), 0);
    EXPECT_EQ(quorvel_shell_apply_snapshot(document.data(), -5), 0);
    // A refusal is named in one log line, without the document's values.
    LogCapture log;
    Json noVersion = minimalSnapshotDocument();
    noVersion["policy"].erase("version");
    noVersion["sessionId"] = "secret-session";
    EXPECT_EQ(apply(dumpCompact(noVersion)), 0);
    EXPECT_EQ(apply("{}"), 0);
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{
                  "snapshot result=refused key=policy.version reason=missing",
                  "snapshot result=refused key=seq reason=missing"}));
    // A lower seq is still handed over, and answered with 1.
    Json lower = minimalSnapshotDocument();
    lower["seq"] = 0;
    lower["state"] = "halted";
    EXPECT_EQ(apply(dumpCompact(lower)), 1);
    EXPECT_EQ(bar->item->row(0).title, "Ready");

    double x = 0, y = 0, w = 0, h = 0;
    EXPECT_EQ(quorvel_shell_status_item_frame(&x, &y, &w, &h), 0); // the tray has no geometry
    bar->item->frame = ScreenRect{100, 1050, 30, 24};
    EXPECT_EQ(quorvel_shell_status_item_frame(nullptr, &y, &w, &h), 0);
    EXPECT_EQ(quorvel_shell_status_item_frame(&x, &y, &w, &h), 1);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(h, 24);
}

TEST_F(ShellBridgeTest, InstallTwiceKeepsTheFirstCallback) {
    Received second;
    ASSERT_EQ(quorvel_shell_install(onCommand, &received), 1);
    EXPECT_EQ(quorvel_shell_install(onCommand, &second), 1);
    EXPECT_EQ(bar->itemsMade, 1);
    bar->item->choose("Open Quorvel");
    bar->item->setVisible(false);
    EXPECT_EQ(received.commands, (std::vector<std::uint32_t>{3, 7}));
    EXPECT_TRUE(second.commands.empty());
    EXPECT_EQ(quorvel_shell_is_installed(), 1);
    EXPECT_EQ(quorvel_shell_is_visible(), 0);
}

TEST_F(ShellBridgeTest, InstallWithoutAButtonHoldsNothingAndHiddenSendsCodeSevenAtOnce) {
    bar->item->button = false;
    EXPECT_EQ(quorvel_shell_install(onCommand, &received), 0);
    EXPECT_EQ(quorvel_shell_is_installed(), 0);
    EXPECT_EQ(apply(document), 0);
    // A later install tries again; an item that is not visible sends code 7 inside the call.
    bar->item = std::make_shared<FakeStatusItem>();
    bar->item->visible = false;
    EXPECT_EQ(quorvel_shell_install(onCommand, &received), 1);
    EXPECT_EQ(received.commands, std::vector<std::uint32_t>{7});
    EXPECT_EQ(quorvel_shell_is_visible(), 0);
    EXPECT_EQ(quorvel_shell_acknowledge(0, onCompletion, &received), 0);
}

TEST_F(ShellBridgeTest, OffTheMainThreadEveryFunctionRefusesAndChangesNothing) {
    ASSERT_EQ(quorvel_shell_install(onCommand, &received), 1);
    ASSERT_EQ(apply(document), 1);
    loop->setMainThreadOverride(false);
    EXPECT_EQ(quorvel_shell_install(onCommand, &received), 0);
    EXPECT_EQ(apply(document), 0);
    EXPECT_EQ(quorvel_shell_is_installed(), 0);
    EXPECT_EQ(quorvel_shell_is_ready(), 0);
    EXPECT_EQ(quorvel_shell_is_visible(), 0);
    double x = 0, y = 0, w = 0, h = 0;
    EXPECT_EQ(quorvel_shell_status_item_frame(&x, &y, &w, &h), 0);
    EXPECT_EQ(quorvel_shell_acknowledge(0, onCompletion, &received), 0);
    EXPECT_EQ(quorvel_shell_acknowledgement_pending(), 0);
    quorvel_shell_cancel_acknowledgement();
    quorvel_shell_uninstall();
    EXPECT_EQ(loop->pendingTaskCount(), 0u); // no hop to the main thread
    loop->setMainThreadOverride(std::nullopt);
    EXPECT_EQ(quorvel_shell_is_installed(), 1);
    EXPECT_FALSE(bar->item->removed);
    EXPECT_TRUE(received.completions.empty());
}

TEST_F(ShellBridgeTest, AcknowledgementRunsOnceAndRefusesASecond) {
    ASSERT_EQ(quorvel_shell_install(onCommand, &received), 1);
    Received second;
    EXPECT_EQ(quorvel_shell_acknowledge(0, nullptr, &received), 0);
    ASSERT_EQ(quorvel_shell_acknowledge(0, onCompletion, &received), 1);
    EXPECT_EQ(quorvel_shell_acknowledgement_pending(), 1);
    EXPECT_EQ(quorvel_shell_acknowledge(1, onCompletion, &second), 0);
    loop->advance(1.0);
    EXPECT_EQ(received.completions, std::vector<std::int32_t>{1});
    EXPECT_TRUE(second.completions.empty());
    EXPECT_EQ(quorvel_shell_acknowledgement_pending(), 0);

    ASSERT_EQ(quorvel_shell_acknowledge(1, onCompletion, &received), 1);
    quorvel_shell_cancel_acknowledgement();
    EXPECT_EQ(received.completions, (std::vector<std::int32_t>{1, 0}));
    EXPECT_EQ(bar->item->opacities.back(), 1.0);
}

TEST_F(ShellBridgeTest, UninstallDuringACueCompletesItWithZeroBeforeReturning) {
    ASSERT_EQ(quorvel_shell_install(onCommand, &received), 1);
    ASSERT_EQ(quorvel_shell_acknowledge(0, onCompletion, &received), 1);
    loop->advance(0.5);
    quorvel_shell_uninstall();
    EXPECT_EQ(received.completions, std::vector<std::int32_t>{0});
    EXPECT_TRUE(bar->item->removed);
    EXPECT_EQ(quorvel_shell_is_installed(), 0);
    EXPECT_EQ(quorvel_shell_is_ready(), 0);
    EXPECT_EQ(apply(document), 0);
    EXPECT_EQ(loop->activeTimerCount(), 0u);
    EXPECT_TRUE(received.commands.empty());

    // A fresh install holds no snapshot.
    bar->item = std::make_shared<FakeStatusItem>();
    ASSERT_EQ(quorvel_shell_install(onCommand, &received), 1);
    EXPECT_FALSE(shellbridge::installedController()->snapshot());
    EXPECT_EQ(bar->item->row(0).title, "Status unknown");
}

TEST_F(ShellBridgeTest, ACommandCallbackMayUninstallTheShell) {
    static bool uninstalled;
    uninstalled = false;
    auto uninstalling = [](std::uint32_t, void*) {
        quorvel_shell_uninstall();
        uninstalled = true;
    };
    ASSERT_EQ(quorvel_shell_install(uninstalling, nullptr), 1);
    bar->item->choose("Quit Quorvel");
    EXPECT_TRUE(uninstalled);
    EXPECT_EQ(quorvel_shell_is_installed(), 0);
}

// The examples of the snapshot reference in docs/shell.md are accepted as written and show the
// row the text beside them says.
TEST_F(ShellBridgeTest, TheDocumentedExamplesShowWhatTheDocsSay) {
    std::ifstream file(sourceDirectory() / "docs" / "shell.md");
    ASSERT_TRUE(file) << "docs/shell.md";
    std::stringstream text;
    text << file.rdbuf();
    const std::string docs = text.str();
    const std::regex example(
        "#### Example: ([^\n]*)\n\n```json\n([^`]*)```\n\nThe status row reads \"([^\"]*)\" "
        "over \"([^\"]*)\"; the tooltip says\\s+\"([^\"]*)\"");
    ASSERT_EQ(quorvel_shell_install(onCommand, &received), 1);
    int examples = 0;
    for (std::sregex_iterator it(docs.begin(), docs.end(), example), end; it != end; ++it) {
        const auto& match = *it;
        SCOPED_TRACE(match[1].str());
        ++examples;
        EXPECT_EQ(apply(match[2].str()), 1);
        EXPECT_EQ(bar->item->row(0).title, match[3].str());
        EXPECT_EQ(bar->item->row(0).subtitle, match[4].str());
        EXPECT_EQ(bar->item->buttons.back().toolTip, match[5].str());
    }
    EXPECT_EQ(examples, 2);
    // The second example has an update pending.
    bar->item->choose("Restart to Update");
    EXPECT_EQ(received.commands, std::vector<std::uint32_t>{9});
}

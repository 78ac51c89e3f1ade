#include "login/LoginLaunchService.h"
#include "support/LogCapture.h"

#include <deque>
#include <gtest/gtest.h>
#include <map>

using namespace quorvel;

namespace {

// A login-item service that answers from a script and records what it was asked.
class FakeLoginItemService : public LoginItemService {
public:
    std::deque<LoginItemStatus> states; // one per status() call; the last one repeats
    bool registerSucceeds = true;
    bool unregisterSucceeds = true;
    int statusCalls = 0, registerCalls = 0, unregisterCalls = 0, openCalls = 0;
    std::vector<std::string>* journal = nullptr;

    LoginItemStatus status() override {
        ++statusCalls;
        if (journal)
            journal->push_back("status");
        LoginItemStatus state = states.front();
        if (states.size() > 1)
            states.pop_front();
        return state;
    }
    bool registerItem() override {
        ++registerCalls;
        return registerSucceeds;
    }
    bool unregisterItem() override {
        ++unregisterCalls;
        return unregisterSucceeds;
    }
    void openSettings() override { ++openCalls; }
};

class FakeFileSystem : public LoginLaunchFileSystem {
public:
    std::map<std::string, std::string> files;
    bool directoryFails = false;
    bool writeFails = false;
    std::vector<std::string> directories;
    std::vector<std::string> removed;
    std::vector<std::string>* journal = nullptr;

    bool createDirectory(const FileURL& directory) override {
        directories.push_back(directory.path);
        return !directoryFails;
    }
    bool writeAtomically(const FileURL& file, std::string_view bytes) override {
        if (journal)
            journal->push_back("write " + file.path);
        if (writeFails)
            return false;
        files[file.path] = std::string(bytes);
        return true;
    }
    bool removeItem(const FileURL& file) override {
        removed.push_back(file.path);
        return files.erase(file.path) > 0;
    }
};

const std::string markerPath = "/home/u/.local/share/com.quorvel.desktop/maintenance.stop";

struct Harness {
    std::shared_ptr<FakeLoginItemService> item = std::make_shared<FakeLoginItemService>();
    std::shared_ptr<FakeFileSystem> files = std::make_shared<FakeFileSystem>();
    std::optional<FileURL> marker = FileURL{markerPath};
    bool mainThread = true;
    std::vector<std::string> identifiers;
    std::vector<std::string> journal;

    explicit Harness(LoginItemStatus state) {
        item->states = {state};
        item->journal = &journal;
        files->journal = &journal;
    }

    LoginLaunchEnvironment environment() {
        LoginLaunchEnvironment environment;
        environment.isMainThread = [this] { return mainThread; };
        environment.maintenanceStopURL = [this] { return marker; };
        environment.fileSystem = files;
        environment.loginItemService = [this](std::string_view identifier) {
            identifiers.emplace_back(identifier);
            return item;
        };
        return environment;
    }
    LoginLaunchService service() { return LoginLaunchService(environment()); }
};

constexpr auto unknownState = static_cast<LoginItemStatus>(7);

} // namespace

TEST(LoginLaunchService, EnsureRegistersEveryOtherStateAndReportsTheStateAfterwards) {
    struct Case {
        LoginItemStatus before, after;
        std::int32_t result;
        std::string line;
    };
    const std::vector<Case> cases = {
        {LoginItemStatus::notRegistered, LoginItemStatus::enabled, 1,
         "ensure status=not_registered registration=succeeded result=enabled"},
        {LoginItemStatus::notRegistered, LoginItemStatus::requiresApproval, 2,
         "ensure status=not_registered registration=succeeded result=requires_approval"},
        {LoginItemStatus::notFound, LoginItemStatus::notFound, 0,
         "ensure status=not_found registration=succeeded result=not_found"},
        {unknownState, LoginItemStatus::notRegistered, 0,
         "ensure status=unknown registration=succeeded result=not_registered"},
        {LoginItemStatus::notRegistered, unknownState, 0,
         "ensure status=not_registered registration=succeeded result=unknown"},
    };
    for (const auto& c : cases) {
        test::LogCapture log;
        Harness harness(c.before);
        harness.item->states.push_back(c.after);
        EXPECT_EQ(harness.service().ensure(), c.result) << c.line;
        EXPECT_EQ(harness.item->registerCalls, 1);
        ASSERT_EQ(log.records().size(), 1u);
        EXPECT_EQ(log.records()[0].level, LogLevel::info);
        EXPECT_EQ(log.records()[0].message, c.line);
    }
}

TEST(LoginLaunchService, EnsureReportsAFailedRegistrationWithoutRetrying) {
    test::LogCapture log;
    Harness harness(LoginItemStatus::notRegistered);
    harness.item->registerSucceeds = false;
    harness.marker.reset(); // no application-support folder: nothing to remove, still registers
    EXPECT_EQ(harness.service().ensure(), 0);
    EXPECT_EQ(harness.item->registerCalls, 1);
    EXPECT_EQ(harness.item->statusCalls, 1);
    EXPECT_TRUE(harness.files->removed.empty());
    ASSERT_EQ(log.records().size(), 1u);
    EXPECT_EQ(log.records()[0].level, LogLevel::error);
    EXPECT_EQ(log.records()[0].message, "ensure status=not_registered registration=failed");
}

TEST(LoginLaunchService, StopWritesTheMarkerBeforeTouchingTheLoginItem) {
    struct Case {
        LoginItemStatus state;
        bool unregisterSucceeds;
        std::int32_t result;
        int unregisterCalls;
        LogLevel level;
        std::string line;
    };
    const std::vector<Case> cases = {
        {LoginItemStatus::notRegistered, true, 1, 0, LogLevel::info,
         "maintenance status=not_registered action=marker_only"},
        {LoginItemStatus::notFound, true, 1, 0, LogLevel::info,
         "maintenance status=not_found action=marker_only"},
        {LoginItemStatus::enabled, true, 1, 1, LogLevel::info,
         "maintenance status=enabled unregistration=succeeded"},
        {LoginItemStatus::requiresApproval, true, 1, 1, LogLevel::info,
         "maintenance status=requires_approval unregistration=succeeded"},
        {LoginItemStatus::enabled, false, 0, 1, LogLevel::error,
         "maintenance status=enabled unregistration=failed"},
        {LoginItemStatus::requiresApproval, false, 0, 1, LogLevel::error,
         "maintenance status=requires_approval unregistration=failed"},
        {unknownState, true, 0, 0, LogLevel::error,
         "maintenance status=unknown fallback=unavailable"},
    };
    for (const auto& c : cases) {
        test::LogCapture log;
        Harness harness(c.state);
        harness.item->unregisterSucceeds = c.unregisterSucceeds;
        EXPECT_EQ(harness.service().stopForMaintenance(), c.result) << c.line;
        EXPECT_EQ(harness.item->unregisterCalls, c.unregisterCalls) << c.line;
        // The marker stays written whatever happened to the login item.
        EXPECT_EQ(harness.files->files.at(markerPath), "maintenance\n");
        EXPECT_EQ(harness.files->directories,
                  std::vector<std::string>{"/home/u/.local/share/com.quorvel.desktop"});
        ASSERT_GE(harness.journal.size(), 2u);
        EXPECT_EQ(harness.journal[0], "write " + markerPath);
        EXPECT_EQ(harness.journal[1], "status");
        ASSERT_EQ(log.records().size(), 1u) << c.line;
        EXPECT_EQ(log.records()[0],
                  (LogRecord{"com.quorvel.desktop", "LoginLauncher", c.level, c.line}));
    }
}

TEST(LoginLaunchService, StopLeavesTheLoginItemUntouchedWhenTheMarkerCannotBeWritten) {
    test::LogCapture log;
    Harness noFolder(LoginItemStatus::enabled);
    noFolder.marker.reset();
    EXPECT_EQ(noFolder.service().stopForMaintenance(), 0);

    Harness noDirectory(LoginItemStatus::enabled);
    noDirectory.files->directoryFails = true;
    EXPECT_EQ(noDirectory.service().stopForMaintenance(), 0);

    Harness noWrite(LoginItemStatus::enabled);
    noWrite.files->writeFails = true;
    EXPECT_EQ(noWrite.service().stopForMaintenance(), 0);

    for (Harness* harness : {&noFolder, &noDirectory, &noWrite}) {
        EXPECT_TRUE(harness->identifiers.empty());
        EXPECT_EQ(harness->item->statusCalls, 0);
        EXPECT_EQ(harness->item->unregisterCalls, 0);
        EXPECT_TRUE(harness->files->files.empty());
    }
    auto records = log.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].message, "maintenance marker=unavailable");
    EXPECT_EQ(records[1].message, "maintenance marker=failed");
    EXPECT_EQ(records[2].message, "maintenance marker=failed");
    for (const auto& record : records)
        EXPECT_EQ(record.level, LogLevel::error);
}

TEST(LoginLaunchService, StatusMapsTheFourStatesWithoutLogging) {
    test::LogCapture log;
    const std::vector<std::pair<LoginItemStatus, std::int32_t>> cases = {
        {LoginItemStatus::notRegistered, 3},
        {LoginItemStatus::enabled, 1},
        {LoginItemStatus::requiresApproval, 2},
        {LoginItemStatus::notFound, 0},
        {unknownState, 0}};
    for (auto [state, code] : cases) {
        Harness harness(state);
        EXPECT_EQ(harness.service().status(), code);
        EXPECT_EQ(harness.item->registerCalls + harness.item->unregisterCalls, 0);
        EXPECT_TRUE(harness.files->removed.empty());
    }
    Harness open(LoginItemStatus::enabled);
    open.service().openLoginItems();
    EXPECT_EQ(open.item->openCalls, 1);
    EXPECT_TRUE(log.records().empty());
}

// The /proc scan of the workspace over a process table laid out by the test (setProcRoot): which
// processes count as running applications of a bundle.

#include "platform/RunningBundleScan.h"
#include "platform/SystemWorkspace.h"
#include "support/ChildProcess.h"
#include "support/TemporaryDirectory.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utime.h>

namespace quorvel {
namespace {

using test::TemporaryDirectory;
using test::writeFileText;

std::string plist(const std::string& identifier, const std::string& executable) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>" +
           identifier +
           "</string>"
           "<key>CFBundleExecutable</key><string>" +
           executable + "</string></dict></plist>\n";
}

class WorkspaceScanTest : public ::testing::Test {
protected:
    WorkspaceScanTest() { workspace->setProcRoot((dir / "proc").string()); }

    std::string bundle(const std::string& path, const std::string& identifier,
                       const std::string& executable = "Quorvel") {
        std::string root = (dir / path).string();
        writeFileText(root + "/Contents/Info.plist", plist(identifier, executable));
        return root;
    }
    // A process entry: exe link (its text as given) and a stat line with the given state.
    void process(int pid, const std::string& exeTarget, char state = 'S',
                 const std::string& name = "Quorvel") {
        auto entry = dir / "proc" / std::to_string(pid);
        std::filesystem::create_directories(entry);
        std::filesystem::create_symlink(exeTarget, entry / "exe");
        writeFileText(entry / "stat",
                      std::to_string(pid) + " (" + name + ") " + state + " 1 1 1 0 -1");
    }
    std::vector<std::int32_t> pids(std::string_view identifier) {
        std::vector<std::int32_t> result;
        for (const auto& application : workspace->runningApplications(identifier)) {
            result.push_back(application.processIdentifier);
        }
        return result;
    }

    TemporaryDirectory dir;
    std::shared_ptr<SystemWorkspace> workspace = SystemWorkspace::create();
};

TEST_F(WorkspaceScanTest, ReportsLiveProcessesOfTheBundleExecutableInPidOrder) {
    auto host = bundle("A/Quorvel.app", "com.quorvel.desktop");
    auto copy = bundle("B/Quorvel.app", "com.quorvel.desktop");
    auto other = bundle("C/Other.app", "org.example.other", "Other");
    process(300, host + "/Contents/MacOS/Quorvel");
    process(20, copy + "/Contents/MacOS/Quorvel");
    process(41, host + "/Contents/MacOS/Helper");       // not the bundle's executable
    process(42, other + "/Contents/MacOS/Other");       // another identifier
    process(43, "/usr/bin/Quorvel");                    // outside any bundle
    process(44, host + "/Contents/MacOS/Quorvel", 'Z'); // a zombie
    process(45, host + "/Contents/MacOS/Quorvel", 'X'); // dead
    process(46, host + "/Contents/MacOS/Quorvel", 'R', "Quor) Z (vel"); // odd names parse right
    process(47, host + "/Contents/MacOS/Quorvel (deleted)"); // replaced on disk, still running
    std::filesystem::create_directories(dir / "proc/self");
    std::filesystem::create_directories(dir / "proc/0042x");

    EXPECT_EQ(pids("com.quorvel.desktop"), (std::vector<std::int32_t>{20, 46, 47, 300}));
    EXPECT_EQ(pids("org.example.other"), std::vector<std::int32_t>{42});
    EXPECT_TRUE(pids("org.example.none").empty());

    auto applications = workspace->runningApplications("com.quorvel.desktop");
    EXPECT_EQ(applications[0], (RunningApplication{std::string("com.quorvel.desktop"), 20,
                                                   FileURL{copy + "/Contents/MacOS/Quorvel"}}));
    EXPECT_EQ(applications[2].executableURL, FileURL{host + "/Contents/MacOS/Quorvel"});
}

TEST_F(WorkspaceScanTest, FollowsChangesOfTheInformationDictionary) {
    auto host = bundle("A/Quorvel.app", "com.quorvel.desktop");
    process(10, host + "/Contents/MacOS/Quorvel");
    EXPECT_EQ(pids("com.quorvel.desktop"), std::vector<std::int32_t>{10});

    writeFileText(host + "/Contents/Info.plist", plist("com.quorvel.renamed", "Quorvel"));
    // A later modification time, whatever the file system's time resolution.
    struct utimbuf times {};
    times.actime = times.modtime = ::time(nullptr) + 10;
    ASSERT_EQ(::utime((host + "/Contents/Info.plist").c_str(), &times), 0);
    EXPECT_TRUE(pids("com.quorvel.desktop").empty());
    EXPECT_EQ(pids("com.quorvel.renamed"), std::vector<std::int32_t>{10});

    std::filesystem::remove(host + "/Contents/Info.plist");
    EXPECT_TRUE(pids("com.quorvel.renamed").empty());

    // A known process whose executable changes (an exec keeps its pid and entry) is seen at once,
    // both ways.
    auto copy2 = bundle("C/Quorvel.app", "com.quorvel.desktop");
    process(12, "/usr/bin/sh");
    EXPECT_TRUE(pids("com.quorvel.desktop").empty());
    std::filesystem::remove(dir / "proc/12/exe");
    std::filesystem::create_symlink(copy2 + "/Contents/MacOS/Quorvel", dir / "proc/12/exe");
    EXPECT_EQ(pids("com.quorvel.desktop"), std::vector<std::int32_t>{12});
    std::filesystem::remove(dir / "proc/12/exe");
    std::filesystem::create_symlink("/usr/bin/sh", dir / "proc/12/exe");
    EXPECT_TRUE(pids("com.quorvel.desktop").empty());
    std::filesystem::remove_all(dir / "proc/12");

    // No process table at all reports nothing.
    auto copy = bundle("B/Quorvel.app", "com.quorvel.desktop");
    process(11, copy + "/Contents/MacOS/Quorvel");
    ASSERT_EQ(pids("com.quorvel.desktop"), std::vector<std::int32_t>{11});
    workspace->setProcRoot((dir / "nothing").string());
    EXPECT_TRUE(pids("com.quorvel.desktop").empty());
}

// A real process, seen by one scan while it runs a shell, then exec'ing into a bundle's
// executable: the next scan reports it, with the start time the pid had all along. Past its first
// seconds, a known process is read again when an executable the scan watches was opened, or once
// per sweep.
TEST(RunningBundleScanTest, FindsAKnownProcessOnceItExecsIntoTheBundle) {
    using namespace std::chrono_literals;
    struct Case {
        const char* name;
        bool knownBundle;
        RunningBundleScan::Timing timing;
    };
    for (const Case& c :
         {Case{"watched executable", true, {0s, 1h}}, Case{"sweep", false, {0s, 0s}}}) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory dir;
        std::string root = (dir.path() / "Quorvel.app").string();
        writeFileText(root + "/Contents/Info.plist", plist("com.quorvel.exec-test", "Quorvel"));
        std::string executable = root + "/Contents/MacOS/Quorvel";
        std::filesystem::create_directories(root + "/Contents/MacOS");
        std::filesystem::copy_file("/bin/sleep", executable);
        std::filesystem::permissions(executable, std::filesystem::perms::owner_all);
        std::string fifo = (dir.path() / "go").string();
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        test::ChildProcess child(
            {"/bin/sh", "-c", "read line < \"$1\"; exec \"$0\" 100", executable, fifo}, {});

        RunningBundleScan scan("/proc", c.timing);
        if (c.knownBundle)
            scan.knowBundle(FileURL{root});
        auto ownExecutable = [&] { return readExecutableLink("/proc", child.pid()); };
        for (int i = 0; i < 500 && !ownExecutable(); ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(ownExecutable());
        EXPECT_TRUE(scan.runningApplications("com.quorvel.exec-test").empty());
        EXPECT_TRUE(scan.runningApplications("com.quorvel.exec-test").empty());

        int writer = ::open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(writer, 0);
        ASSERT_EQ(::write(writer, "go\n", 3), 3);
        ::close(writer);
        for (int i = 0; i < 500 && ownExecutable() != executable; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(ownExecutable(), executable);

        auto found = scan.runningApplications("com.quorvel.exec-test");
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].processIdentifier, child.pid());
        EXPECT_EQ(found[0].executableURL, FileURL{executable});
        EXPECT_TRUE(found[0].startTime.has_value());
    }
}

} // namespace
} // namespace quorvel

// A rollback killed (SIGKILL) at random instants, as a user's machine may end the launcher: after
// every kill the bundle path holds a whole bundle, the broken one or the restored one, no child
// tool outlives the killed recovery, and the next recovery leaves the restored bundle and nothing
// beside it. Bounded: a small bundle and a fixed number of runs.

#include "UpdateFixtures.h"
#include "support/HostBundle.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <random>
#include <sys/stat.h>
#include <thread>

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;

constexpr int runs = 40;

// Every entry below the folder with its kind, mode bits that matter, contents or link target.
std::string treeText(const fs::path& root) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(root, error)))
        return "nothing";
    std::vector<std::string> lines;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::string line = fs::relative(it->path(), root).string() + " ";
        auto status = it->symlink_status();
        if (fs::is_symlink(status)) {
            line += "link " + fs::read_symlink(it->path()).string();
        } else if (fs::is_directory(status)) {
            line += "dir";
        } else {
            bool executable = (status.permissions() & fs::perms::owner_exec) != fs::perms::none;
            line += std::string(executable ? "exe " : "file ") + readFileText(it->path());
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

// Processes whose command line names the folder (the probe's bsdtar, for one).
std::vector<pid_t> processesNaming(const fs::path& folder) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(name));
        std::string commandLine = readFileText(entry.path() / "cmdline");
        if (commandLine.find(folder.string()) != std::string::npos && !processEnded(pid))
            found.push_back(pid);
    }
    return found;
}

// Looks at the bundle path as often as it can while a recovery runs, counting the moments when
// nothing is there: a swap made of two renames shows its gap here, which a kill rarely hits.
class EmptyPathWatch {
public:
    explicit EmptyPathWatch(const fs::path& path)
        : thread_([this, path] {
              while (!stop_.load(std::memory_order_relaxed)) {
                  struct stat info {};
                  if (::lstat(path.c_str(), &info) != 0)
                      empty_.fetch_add(1, std::memory_order_relaxed);
              }
          }) {}
    ~EmptyPathWatch() { stop(); }
    int stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return empty_.load();
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> empty_{0};
    std::thread thread_;
};

TEST(KillDuringRecovery, TheBundlePathAlwaysHoldsAWholeBundle) {
    TemporaryDirectory dir;
    TestKey key{dir.path()};
    fs::path applications = dir / "Applications";
    fs::path updates = dir / "data/com.quorvel.desktop/updates";
    fs::path bundle = applications / "Quorvel.app";
    fs::path snapshot = updates / "Quorvel-1.4.0.tar.gz";
    fs::path templates = dir / "templates";
    fs::create_directories(applications);
    fs::create_directories(updates);

    // The previous version as the snapshot; the new one, signed, then broken by a half install.
    ASSERT_EQ(sign(makeBundle(templates / "old", "1.4.0"), key), 0);
    makeArchive(templates / "snapshot.tar.gz", templates / "old", {"Quorvel.app"});
    fs::path broken = makeBundle(templates / "new", "1.5.0");
    ASSERT_EQ(sign(broken, key), 0);
    writeFileText(broken / "Contents/MacOS/Quorvel", "#!/bin/sh\nec");
    const std::string oldTree = treeText(templates / "old/Quorvel.app");
    const std::string newTree = treeText(broken);
    const std::string receipt =
        R"({"schema":1,"from_version":"1.4.0","to_version":"1.5.0","artifact_sha256":"abc",)"
        R"("snapshot_path":")" +
        snapshot.string() + R"(","state":"installed","written_at":"2026-12-05T14:50:00Z"})";

    auto reset = [&] {
        fs::remove_all(bundle);
        fs::copy(broken, bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        fs::copy_file(templates / "snapshot.tar.gz", snapshot,
                      fs::copy_options::overwrite_existing);
        writeFileText(updates / "receipt.json", receipt);
    };
    const std::string probe = buildDir() + "/bin/quorvel_recovery_probe";
    auto startProbe = [&] {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{probe, bundle.string(), updates.string(), key.publicKey},
            ChildProcess::Options{});
    };

    // One run to its end gives the window in which the kills fall.
    reset();
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(startProbe()->wait(60), 0);
    auto whole = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(treeText(bundle), oldTree);

    std::random_device device;
    const unsigned seed = device();
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> instant(
        0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count() * 6 / 5);
    int kills = 0, neither = 0, leftovers = 0;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE("run " + std::to_string(run) + ", seed " + std::to_string(seed));
        reset();
        EmptyPathWatch watch(bundle);
        auto child = startProbe();
        std::this_thread::sleep_for(std::chrono::microseconds(instant(random)));
        child->signal(SIGKILL);
        auto status = child->wait(60);
        ASSERT_TRUE(status);
        if (*status == 128 + SIGKILL)
            ++kills;

        std::string now = treeText(bundle);
        int emptyMoments = watch.stop();
        if ((now != oldTree && now != newTree) || emptyMoments > 0) {
            ++neither;
            ADD_FAILURE() << "neither the old nor the new bundle (" << emptyMoments
                          << " moments without one):\n"
                          << now;
        }
        // The killed recovery's tools die with it (within a moment: the kernel sends the signal).
        waitUntil([&] { return processesNaming(dir.path()).empty(); }, 5.0);
        leftovers += static_cast<int>(processesNaming(dir.path()).size());

        // The next recovery finishes the job and clears what the killed one left, with the
        // bundle path never empty on the way either.
        EmptyPathWatch finishing(bundle);
        ASSERT_EQ(startProbe()->wait(60), 0);
        if (int moments = finishing.stop(); moments > 0) {
            ++neither;
            ADD_FAILURE() << moments << " moments without a bundle while the rollback finished";
        }
        EXPECT_EQ(treeText(bundle), oldTree);
        EXPECT_EQ(verify(bundle, key), 0);
        auto names = listing(applications);
        leftovers += static_cast<int>(names.size()) - 1;
        EXPECT_EQ(names, std::vector<std::string>{"Quorvel.app"});
    }
    std::cout << "kill test: runs=" << runs << " kills=" << kills << " neither=" << neither
              << " leftovers=" << leftovers << " window_ms="
              << std::chrono::duration_cast<std::chrono::milliseconds>(whole).count()
              << " seed=" << seed << "\n";
    RecordProperty("kills", kills);
    EXPECT_EQ(neither, 0);
    EXPECT_EQ(leftovers, 0);
    EXPECT_GT(kills, 0);
}

} // namespace
} // namespace quorvel::test

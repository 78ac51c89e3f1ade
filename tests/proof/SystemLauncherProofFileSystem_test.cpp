#include "ProofTestSupport.h"
#include "proof/SystemLauncherProofFileSystem.h"
#include "support/LogCapture.h"
#include "support/TemporaryDirectory.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvel {
namespace {

using test::countNamesContaining;
using test::pathExists;
using test::readBytes;
using test::TemporaryDirectory;
using test::writeBytes;
using Stage = LauncherProofAtomicReplaceStage;

constexpr std::size_t sixteenMiB = 16 * 1024 * 1024;
const std::error_code corrupt = make_error_code(LauncherProofFileError::fileReadCorruptFile);
const std::error_code outOfSpace = make_error_code(LauncherProofFileError::fileWriteOutOfSpace);
const std::error_code badRecord =
    make_error_code(LauncherProofFileError::fileWriteInapplicableStringEncoding);

std::error_code posix(int value) {
    return {value, std::generic_category()};
}

// The error of a failed operation; no error for one that succeeded.
template <class T> std::error_code errorOf(const Expected<T, std::error_code>& result) {
    return result ? std::error_code() : result.error();
}

FileURL urlOf(const std::filesystem::path& path) {
    return FileURL::fromPath(path.string());
}

Bytes line(std::string_view text) {
    return bytesOf(std::string(text) + "\n");
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

struct FileSystemTest : ::testing::Test {
    TemporaryDirectory directory;
    std::filesystem::path log = directory / "log.jsonl";
    SystemLauncherProofFileSystem files;

    std::size_t stagedFiles() const { return countNamesContaining(directory.path(), ".staged."); }
};

TEST_F(FileSystemTest, AppendKeepsTheSixteenMebibyteEdges) {
    Bytes record(sixteenMiB, 'a');
    record.back() = '\n';
    ASSERT_TRUE(files.append(record, urlOf(log)));
    EXPECT_EQ(readBytes(log).size(), sixteenMiB);
    // The log is full: not even one more line fits, and the full log stays as it is.
    EXPECT_EQ(errorOf(files.append(line(""), urlOf(log))), outOfSpace);
    EXPECT_EQ(readBytes(log).size(), sixteenMiB);

    auto other = directory / "other.jsonl";
    record.push_back('\n');
    EXPECT_EQ(errorOf(files.append(record, urlOf(other))), outOfSpace);
    EXPECT_FALSE(pathExists(other));

    // An existing log that the record fills to exactly 16 MiB, and one byte more.
    Bytes existing(sixteenMiB - 10, 'b');
    existing.back() = '\n';
    writeBytes(other, existing);
    EXPECT_EQ(errorOf(files.append(line("0123456789"), urlOf(other))), outOfSpace);
    EXPECT_EQ(readBytes(other), existing);
    ASSERT_TRUE(files.append(line("012345678"), urlOf(other)));
    EXPECT_EQ(readBytes(other).size(), sixteenMiB);

    // A log that is already above the cap is refused as corrupt.
    writeBytes(other, Bytes(sixteenMiB + 1, '\n'));
    EXPECT_EQ(errorOf(files.append(line("x"), urlOf(other))), corrupt);
}

TEST_F(FileSystemTest, AppendRefusesTornLogsRecordsWithoutNewlineAndOddTargets) {
    writeBytes(log, bytesOf("{\"a\":1}\n{\"b\""));
    EXPECT_EQ(errorOf(files.append(line("{}"), urlOf(log))), corrupt);
    EXPECT_EQ(readBytes(log), bytesOf("{\"a\":1}\n{\"b\""));
    writeBytes(log, {});
    ASSERT_TRUE(files.append(line("{}"), urlOf(log)));
    ASSERT_TRUE(files.append(line("[]"), urlOf(log)));
    EXPECT_EQ(readBytes(log), bytesOf("{}\n[]\n"));

    // A bad record fails before anything is touched: not even the folder or the lock file appear.
    auto folder = directory / "not-yet";
    for (const Bytes& record : {bytesOf("x"), Bytes{}, bytesOf("{}\n ")})
        EXPECT_EQ(errorOf(files.append(record, urlOf(folder / "log.jsonl"))), badRecord);
    EXPECT_FALSE(pathExists(folder));

    // A symbolic link at the log path is refused and stays what it was.
    auto real = directory / "real.jsonl";
    writeBytes(real, line("kept"));
    auto link = directory / "link.jsonl";
    std::filesystem::create_symlink(real, link);
    EXPECT_EQ(errorOf(files.append(line("new"), urlOf(link))), corrupt);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readBytes(real), line("kept"));

    // A dangling link counts as no log: the new log replaces the link.
    auto dangling = directory / "dangling.jsonl";
    std::filesystem::create_symlink(directory / "missing", dangling);
    ASSERT_TRUE(files.append(line("first"), urlOf(dangling)));
    EXPECT_FALSE(std::filesystem::is_symlink(dangling));
    EXPECT_EQ(readBytes(dangling), line("first"));
    EXPECT_FALSE(pathExists(directory / "missing"));

    // A symbolic link at the lock path makes the lock, and so the append, fail.
    auto locked = directory / "locked.jsonl";
    std::filesystem::create_symlink(directory / "elsewhere", directory / "locked.jsonl.lock");
    EXPECT_EQ(errorOf(files.append(line("x"), urlOf(locked))), posix(ELOOP));
    EXPECT_FALSE(pathExists(locked));
    EXPECT_FALSE(pathExists(directory / "elsewhere"));

    // A parent that is a file: the folder cannot be made.
    writeBytes(directory / "plain", line("file"));
    EXPECT_EQ(errorOf(files.append(line("x"), urlOf(directory / "plain" / "log.jsonl"))),
              posix(ENOTDIR));
}

TEST_F(FileSystemTest, ReplacementCreatesFolderLockAndAPrivateFile) {
    auto folder = directory / "a" / "b";
    mode_t previous = ::umask(0);
    auto appended = files.append(line("one"), urlOf(folder / "log.jsonl"));
    writeBytes(folder / "open.jsonl", line("old"));
    ::chmod((folder / "open.jsonl").c_str(), 0666);
    auto replaced = files.append(line("two"), urlOf(folder / "open.jsonl"));
    ::umask(previous);

    ASSERT_TRUE(appended);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(modeOf(folder / "log.jsonl"), 0600u);
    EXPECT_EQ(modeOf(folder / "open.jsonl"), 0600u);
    EXPECT_EQ(readBytes(folder / "open.jsonl"), bytesOf("old\ntwo\n"));
    EXPECT_EQ(modeOf(folder / "log.jsonl.lock"), 0600u);
    EXPECT_EQ(std::filesystem::file_size(folder / "log.jsonl.lock"), 0u);
    EXPECT_EQ(countNamesContaining(folder, ".staged."), 0u);
}

TEST_F(FileSystemTest, AFaultAtEitherStageLeavesTheTargetAndNoStagedFile) {
    writeBytes(log, line("before"));
    std::vector<Stage> asked;
    std::optional<Stage> failing;
    files.atomicReplaceFault = [&](Stage stage) -> std::optional<std::error_code> {
        asked.push_back(stage);
        return stage == failing ? std::optional(posix(EDQUOT)) : std::nullopt;
    };
    for (Stage stage : {Stage::stagedWrite, Stage::stagedSync}) {
        failing = stage;
        EXPECT_EQ(errorOf(files.append(line("after"), urlOf(log))), posix(EDQUOT));
        EXPECT_EQ(asked.back(), stage);
        EXPECT_EQ(readBytes(log), line("before"));
        EXPECT_EQ(stagedFiles(), 0u);
    }
    failing.reset();
    asked.clear();
    ASSERT_TRUE(files.append(line("after"), urlOf(log)));
    EXPECT_EQ(asked, (std::vector{Stage::stagedWrite, Stage::stagedSync}));
    EXPECT_EQ(readBytes(log), bytesOf("before\nafter\n"));

    // Somebody replaces our staged file by their own before a failure is cleaned up: theirs stays.
    std::filesystem::path stranger;
    files.atomicReplaceFault = [&](Stage) -> std::optional<std::error_code> {
        for (const auto& name : test::directoryNames(directory.path())) {
            if (name.find(".staged.") != std::string::npos)
                stranger = directory / name;
        }
        std::filesystem::remove(stranger);
        writeBytes(stranger, line("theirs"));
        return posix(EIO);
    };
    ASSERT_FALSE(files.append(line("ours"), urlOf(directory / "new.jsonl")));
    ASSERT_FALSE(stranger.empty());
    EXPECT_EQ(readBytes(stranger), line("theirs"));
    EXPECT_FALSE(pathExists(directory / "new.jsonl"));
}

TEST_F(FileSystemTest, InterruptedAndShortWritesAreCompletedAndOtherFailuresCleanUp) {
    writeBytes(log, line("before"));
    int calls = 0;
    files.systemCalls.write = [&](int fd, const void* bytes, std::size_t count) -> ssize_t {
        if (++calls % 2 == 1) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, bytes, std::min<std::size_t>(count, 3)); // at most three bytes
    };
    ASSERT_TRUE(files.append(line("after the interruptions"), urlOf(log)));
    const Bytes expected = bytesOf("before\nafter the interruptions\n");
    EXPECT_EQ(readBytes(log), expected);
    EXPECT_GT(calls, 10);

    // Any other write failure, or a write that makes no progress, aborts and cleans up.
    for (ssize_t outcome : {ssize_t{-1}, ssize_t{0}}) {
        files.systemCalls.write = [outcome](int, const void*, std::size_t) -> ssize_t {
            errno = ENOSPC;
            return outcome;
        };
        EXPECT_EQ(errorOf(files.append(line("lost"), urlOf(log))),
                  posix(outcome < 0 ? ENOSPC : EIO));
        EXPECT_EQ(readBytes(log), expected);
        EXPECT_EQ(stagedFiles(), 0u);
    }
}

TEST_F(FileSystemTest, OldLogIsCopiedAlsoWhereTheKernelCannotCopy) {
    Bytes expected;
    for (int i = 0; expected.size() < 3 * 1024 * 1024; ++i) {
        auto text = "{\"line\":" + std::to_string(i) + "}\n";
        expected.insert(expected.end(), text.begin(), text.end());
    }
    writeBytes(log, expected);
    auto appendAndExpect = [&](SystemLauncherProofFileSystem& through, const char* record) {
        ASSERT_TRUE(through.append(line(record), urlOf(log)));
        auto tail = line(record);
        expected.insert(expected.end(), tail.begin(), tail.end());
        EXPECT_EQ(readBytes(log), expected);
    };

    // No in-kernel copy: copied by interrupted writes of at most 700 KiB.
    int interruptions = 0;
    files.systemCalls.copyFileRange = [](int, off_t*, int, std::size_t) -> ssize_t {
        errno = EXDEV;
        return -1;
    };
    files.systemCalls.write = [&](int fd, const void* bytes, std::size_t count) -> ssize_t {
        if (interruptions++ % 3 == 0) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, bytes, std::min<std::size_t>(count, 700 * 1024));
    };
    appendAndExpect(files, "{\"last\":1}");

    // An in-kernel copy that is interrupted and copies in pieces still copies everything.
    SystemLauncherProofFileSystem pieces;
    int copies = 0;
    pieces.systemCalls.copyFileRange = [&](int source, off_t* offset, int destination,
                                           std::size_t count) -> ssize_t {
        if (copies++ % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        return ::copy_file_range(source, offset, destination, nullptr,
                                 std::min<std::size_t>(count, 1000), 0);
    };
    appendAndExpect(pieces, "{\"last\":2}");
    EXPECT_GT(copies, 100);

    // A copy that fails otherwise leaves the log as it was.
    pieces.systemCalls.copyFileRange = [](int, off_t*, int, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    EXPECT_EQ(errorOf(pieces.append(line("{\"lost\":3}"), urlOf(log))), posix(EIO));
    EXPECT_EQ(readBytes(log), expected);
    EXPECT_EQ(stagedFiles(), 0u);
}

TEST_F(FileSystemTest, TheRenameIsMadeDurableByADirectorySync) {
    std::vector<std::string> synced;
    bool failDirectory = false;
    files.systemCalls.fsync = [&](int fd) {
        struct stat status {};
        ::fstat(fd, &status);
        if (!S_ISDIR(status.st_mode)) {
            synced.push_back("file");
        } else {
            synced.push_back(pathExists(log) ? "directory after rename" : "directory before");
            if (failDirectory) {
                errno = EIO;
                return -1;
            }
        }
        return ::fsync(fd);
    };
    ASSERT_TRUE(files.append(line("one"), urlOf(log)));
    EXPECT_EQ(synced, (std::vector<std::string>{"file", "directory after rename"}));

    // The new content is in place, only not known to be durable: the append stands (its caller
    // acts on it) and the failed sync is logged once.
    failDirectory = true;
    test::LogCapture capture;
    EXPECT_TRUE(files.append(line("two"), urlOf(log)));
    EXPECT_EQ(readBytes(log), bytesOf("one\ntwo\n"));
    EXPECT_EQ(stagedFiles(), 0u);
    ASSERT_EQ(capture.records().size(), 1u);
    EXPECT_EQ(capture.records()[0].level, LogLevel::error);
    EXPECT_EQ(capture.messages()[0],
              "proof_file folder_sync=failed errno=5 folder=" + directory.path().string());

    // A failing sync of the staged file leaves the old content.
    files.systemCalls.fsync = [](int) {
        errno = EIO;
        return -1;
    };
    ASSERT_FALSE(files.append(line("three"), urlOf(log)));
    EXPECT_EQ(readBytes(log), bytesOf("one\ntwo\n"));
    EXPECT_EQ(stagedFiles(), 0u);
}

TEST_F(FileSystemTest, ReadDataKeepsItsCapAndReadsOnlyRegularFiles) {
    auto file = directory / "lease.json";
    auto read = [&](const std::filesystem::path& path) {
        return files.readData(urlOf(path), 16384);
    };
    writeBytes(file, Bytes(16384, 'x'));
    auto atCap = read(file);
    ASSERT_TRUE(atCap);
    EXPECT_EQ(atCap->size(), 16384u);
    writeBytes(file, Bytes(16385, 'x'));
    EXPECT_EQ(errorOf(read(file)), corrupt);
    writeBytes(file, {});
    auto empty = read(file);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());

    writeBytes(file, bytesOf("small"));
    std::filesystem::create_symlink(file, directory / "link.json");
    EXPECT_EQ(errorOf(read(directory / "link.json")), corrupt);
    EXPECT_EQ(errorOf(read(directory / "missing.json")), posix(ENOENT));
    EXPECT_EQ(errorOf(read(directory.path())), posix(EISDIR));
    // A FIFO with no writer would block an ordinary open for ever; it is refused at once.
    ASSERT_EQ(::mkfifo((directory / "fifo.json").c_str(), 0600), 0);
    EXPECT_EQ(errorOf(read(directory / "fifo.json")), corrupt);
}

TEST_F(FileSystemTest, ClaimTakesTheFileAwayOnceAndPutsItBackUnlessANewerOneCame) {
    auto folder = directory / "support" / "com.quorvel.desktop";
    auto lease = folder / "launcher-proof-lease.json";

    // Nothing to claim: ENOENT, but the folder and the lock file now exist.
    EXPECT_EQ(errorOf(files.claimItem(urlOf(lease), 16384)), posix(ENOENT));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(pathExists(folder / "launcher-proof-lease.json.lock"));

    writeBytes(lease, bytesOf("{\"lease\":1}"));
    ::chmod(lease.c_str(), 0640);
    auto claim = files.claimItem(urlOf(lease), 16384);
    ASSERT_TRUE(claim);
    EXPECT_EQ(claim->data, bytesOf("{\"lease\":1}"));
    EXPECT_FALSE(pathExists(lease));
    std::filesystem::path claimed = claim->claimedURL.path;
    EXPECT_EQ(claimed.parent_path(), folder);
    EXPECT_TRUE(std::regex_match(
        claimed.filename().string(),
        std::regex(R"(\.launcher-proof-lease\.json\.claimed\.)"
                   R"([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})")));
    EXPECT_EQ(readBytes(claimed), bytesOf("{\"lease\":1}"));
    EXPECT_EQ(modeOf(claimed), 0640u);
    EXPECT_FALSE(files.claimItem(urlOf(lease), 16384));

    // Put back when nothing lies at the path: same bytes, same place.
    files.restoreClaim(*claim, urlOf(lease));
    EXPECT_EQ(readBytes(lease), bytesOf("{\"lease\":1}"));
    EXPECT_FALSE(pathExists(claimed));

    // A newer lease that appeared meanwhile wins; the claimed one is dropped.
    auto again = files.claimItem(urlOf(lease), 16384);
    ASSERT_TRUE(again);
    writeBytes(lease, bytesOf("{\"lease\":2}"));
    files.restoreClaim(*again, urlOf(lease));
    EXPECT_EQ(readBytes(lease), bytesOf("{\"lease\":2}"));
    EXPECT_FALSE(pathExists(again->claimedURL.path));

    // Restoring a claim whose file is gone changes nothing; consuming deletes the claimed file.
    auto third = files.claimItem(urlOf(lease), 16384);
    ASSERT_TRUE(third);
    files.consumeClaim(*third);
    EXPECT_FALSE(pathExists(third->claimedURL.path));
    files.restoreClaim(*third, urlOf(lease));
    EXPECT_FALSE(pathExists(lease));
    EXPECT_EQ(countNamesContaining(folder, ".claimed."), 0u);
}

TEST_F(FileSystemTest, ClaimDestroysWhatItCannotRead) {
    auto lease = directory / "lease.json";
    writeBytes(lease, Bytes(16385, ' '));
    EXPECT_EQ(errorOf(files.claimItem(urlOf(lease), 16384)), corrupt);
    EXPECT_FALSE(pathExists(lease));

    auto target = directory / "target.json";
    writeBytes(target, bytesOf("{}"));
    std::filesystem::create_symlink(target, lease);
    EXPECT_FALSE(files.claimItem(urlOf(lease), 16384));
    EXPECT_FALSE(pathExists(lease));
    EXPECT_EQ(readBytes(target), bytesOf("{}")); // the link went, not what it pointed to

    std::filesystem::create_directory(lease);
    writeBytes(lease / "inside", bytesOf("x"));
    EXPECT_FALSE(files.claimItem(urlOf(lease), 16384));
    EXPECT_FALSE(pathExists(lease));
    EXPECT_EQ(countNamesContaining(directory.path(), ".claimed."), 0u);
}

} // namespace
} // namespace quorvel

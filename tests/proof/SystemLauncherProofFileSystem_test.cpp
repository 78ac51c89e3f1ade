#include "ProofTestSupport.h"
#include "proof/SystemLauncherProofFileSystem.h"
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

constexpr std::size_t sixteenMiB = 16 * 1024 * 1024;

std::error_code fileError(LauncherProofFileError error) {
    return make_error_code(error);
}
std::error_code posix(int value) {
    return {value, std::generic_category()};
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

TEST(SystemLauncherProofFileSystem, AppendKeepsTheSixteenMebibyteEdges) {
    TemporaryDirectory directory;
    SystemLauncherProofFileSystem files;
    auto log = directory / "log.jsonl";

    Bytes record(sixteenMiB, 'a');
    record.back() = '\n';
    ASSERT_TRUE(files.append(record, urlOf(log)));
    EXPECT_EQ(readBytes(log).size(), sixteenMiB);
    // The log is full: not even one more line fits, and the full log stays as it is.
    auto full = files.append(line(""), urlOf(log));
    ASSERT_FALSE(full);
    EXPECT_EQ(full.error(), fileError(LauncherProofFileError::fileWriteOutOfSpace));
    EXPECT_EQ(readBytes(log).size(), sixteenMiB);

    auto other = directory / "other.jsonl";
    record.push_back('\n');
    auto oversized = files.append(record, urlOf(other));
    ASSERT_FALSE(oversized);
    EXPECT_EQ(oversized.error(), fileError(LauncherProofFileError::fileWriteOutOfSpace));
    EXPECT_FALSE(pathExists(other));

    // An existing log that the record fills to exactly 16 MiB, and one byte more.
    Bytes existing(sixteenMiB - 10, 'b');
    existing.back() = '\n';
    writeBytes(other, existing);
    auto oneTooMany = files.append(line("0123456789"), urlOf(other));
    ASSERT_FALSE(oneTooMany);
    EXPECT_EQ(oneTooMany.error(), fileError(LauncherProofFileError::fileWriteOutOfSpace));
    EXPECT_EQ(readBytes(other), existing);
    ASSERT_TRUE(files.append(line("012345678"), urlOf(other)));
    EXPECT_EQ(readBytes(other).size(), sixteenMiB);

    // A log that is already above the cap is refused as corrupt.
    Bytes huge(sixteenMiB + 1, '\n');
    writeBytes(other, huge);
    auto above = files.append(line("x"), urlOf(other));
    ASSERT_FALSE(above);
    EXPECT_EQ(above.error(), fileError(LauncherProofFileError::fileReadCorruptFile));
}

TEST(SystemLauncherProofFileSystem, AppendRefusesTornLogsAndRecordsWithoutNewline) {
    TemporaryDirectory directory;
    SystemLauncherProofFileSystem files;
    auto log = directory / "log.jsonl";

    writeBytes(log, bytesOf("{\"a\":1}\n{\"b\""));
    auto torn = files.append(line("{}"), urlOf(log));
    ASSERT_FALSE(torn);
    EXPECT_EQ(torn.error(), fileError(LauncherProofFileError::fileReadCorruptFile));
    EXPECT_EQ(readBytes(log), bytesOf("{\"a\":1}\n{\"b\""));

    writeBytes(log, {});
    ASSERT_TRUE(files.append(line("{}"), urlOf(log)));
    ASSERT_TRUE(files.append(line("[]"), urlOf(log)));
    EXPECT_EQ(readBytes(log), bytesOf("{}\n[]\n"));

    // A bad record fails before anything is touched: not even the folder or the lock file appear.
    auto folder = directory / "not-yet";
    for (const Bytes& record : {bytesOf("x"), Bytes{}, bytesOf("{}\n ")}) {
        auto refused = files.append(record, urlOf(folder / "log.jsonl"));
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error(),
                  fileError(LauncherProofFileError::fileWriteInapplicableStringEncoding));
    }
    EXPECT_FALSE(pathExists(folder));
}

TEST(SystemLauncherProofFileSystem, AppendThroughLinksAndOddTargets) {
    TemporaryDirectory directory;
    SystemLauncherProofFileSystem files;

    // A symbolic link at the log path is refused and stays what it was.
    auto real = directory / "real.jsonl";
    writeBytes(real, line("kept"));
    auto link = directory / "link.jsonl";
    std::filesystem::create_symlink(real, link);
    auto throughLink = files.append(line("new"), urlOf(link));
    ASSERT_FALSE(throughLink);
    EXPECT_EQ(throughLink.error(), fileError(LauncherProofFileError::fileReadCorruptFile));
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
    auto noLock = files.append(line("x"), urlOf(locked));
    ASSERT_FALSE(noLock);
    EXPECT_EQ(noLock.error(), posix(ELOOP));
    EXPECT_FALSE(pathExists(locked));
    EXPECT_FALSE(pathExists(directory / "elsewhere"));

    // A parent that is a file: the folder cannot be made.
    writeBytes(directory / "plain", line("file"));
    auto noFolder = files.append(line("x"), urlOf(directory / "plain" / "log.jsonl"));
    ASSERT_FALSE(noFolder);
    EXPECT_EQ(noFolder.error(), posix(ENOTDIR));
}

TEST(SystemLauncherProofFileSystem, ReplacementCreatesFolderLockAndAPrivateFile) {
    TemporaryDirectory directory;
    SystemLauncherProofFileSystem files;
    auto folder = directory / "a" / "b";
    auto log = folder / "log.jsonl";

    mode_t previous = ::umask(0);
    auto appended = files.append(line("one"), urlOf(log));
    writeBytes(folder / "open.jsonl", line("old"));
    ::chmod((folder / "open.jsonl").c_str(), 0666);
    auto replaced = files.append(line("two"), urlOf(folder / "open.jsonl"));
    ::umask(previous);

    ASSERT_TRUE(appended);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(modeOf(log), 0600u);
    EXPECT_EQ(modeOf(folder / "open.jsonl"), 0600u);
    EXPECT_EQ(readBytes(folder / "open.jsonl"), bytesOf("old\ntwo\n"));
    EXPECT_EQ(modeOf(folder / "log.jsonl.lock"), 0600u);
    EXPECT_EQ(std::filesystem::file_size(folder / "log.jsonl.lock"), 0u);
    EXPECT_EQ(countNamesContaining(folder, ".staged."), 0u);
}

TEST(SystemLauncherProofFileSystem, FaultAtEitherStageLeavesTargetAndNoStagedFile) {
    TemporaryDirectory directory;
    auto log = directory / "log.jsonl";
    writeBytes(log, line("before"));

    for (auto failing : {LauncherProofAtomicReplaceStage::stagedWrite,
                         LauncherProofAtomicReplaceStage::stagedSync}) {
        SystemLauncherProofFileSystem files;
        std::vector<LauncherProofAtomicReplaceStage> asked;
        files.atomicReplaceFault =
            [&](LauncherProofAtomicReplaceStage stage) -> std::optional<std::error_code> {
            asked.push_back(stage);
            if (stage == failing)
                return posix(EDQUOT);
            return std::nullopt;
        };
        auto result = files.append(line("after"), urlOf(log));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), posix(EDQUOT));
        EXPECT_EQ(asked.back(), failing);
        EXPECT_EQ(readBytes(log), line("before"));
        EXPECT_EQ(countNamesContaining(directory.path(), ".staged."), 0u);
    }

    SystemLauncherProofFileSystem files;
    std::vector<LauncherProofAtomicReplaceStage> asked;
    files.atomicReplaceFault =
        [&](LauncherProofAtomicReplaceStage stage) -> std::optional<std::error_code> {
        asked.push_back(stage);
        return std::nullopt;
    };
    ASSERT_TRUE(files.append(line("after"), urlOf(log)));
    EXPECT_EQ(asked, (std::vector{LauncherProofAtomicReplaceStage::stagedWrite,
                                  LauncherProofAtomicReplaceStage::stagedSync}));
    EXPECT_EQ(readBytes(log), bytesOf("before\nafter\n"));
}

TEST(SystemLauncherProofFileSystem, InterruptedAndShortWritesAreCompleted) {
    TemporaryDirectory directory;
    auto log = directory / "log.jsonl";
    writeBytes(log, line("before"));

    SystemLauncherProofFileSystem files;
    int calls = 0;
    files.systemCalls.write = [&](int fd, const void* bytes, std::size_t count) -> ssize_t {
        ++calls;
        if (calls % 2 == 1) {
            errno = EINTR;
            return -1;
        }
        // Every other call writes at most three bytes.
        return ::write(fd, bytes, std::min<std::size_t>(count, 3));
    };
    ASSERT_TRUE(files.append(line("after the interruptions"), urlOf(log)));
    EXPECT_EQ(readBytes(log), bytesOf("before\nafter the interruptions\n"));
    EXPECT_GT(calls, 10);

    // Any other write failure, or a write that makes no progress, aborts and cleans up.
    for (ssize_t outcome : {ssize_t{-1}, ssize_t{0}}) {
        files.systemCalls.write = [outcome](int, const void*, std::size_t) -> ssize_t {
            errno = ENOSPC;
            return outcome;
        };
        auto result = files.append(line("lost"), urlOf(log));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), posix(outcome < 0 ? ENOSPC : EIO));
        EXPECT_EQ(readBytes(log), bytesOf("before\nafter the interruptions\n"));
        EXPECT_EQ(countNamesContaining(directory.path(), ".staged."), 0u);
    }
}

TEST(SystemLauncherProofFileSystem, OldLogIsCopiedAlsoWhereTheKernelCannotCopy) {
    TemporaryDirectory directory;
    auto log = directory / "log.jsonl";
    Bytes existing;
    for (int i = 0; existing.size() < 3 * 1024 * 1024; ++i) {
        auto text = "{\"line\":" + std::to_string(i) + "}\n";
        existing.insert(existing.end(), text.begin(), text.end());
    }
    writeBytes(log, existing);
    Bytes expected = existing;

    SystemLauncherProofFileSystem files;
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
    ASSERT_TRUE(files.append(line("{\"last\":1}"), urlOf(log)));
    auto tail = line("{\"last\":1}");
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(readBytes(log), expected);

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
    ASSERT_TRUE(pieces.append(line("{\"last\":2}"), urlOf(log)));
    tail = line("{\"last\":2}");
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(readBytes(log), expected);
    EXPECT_GT(copies, 100);

    // A copy that fails otherwise leaves the log as it was.
    pieces.systemCalls.copyFileRange = [](int, off_t*, int, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    auto failed = pieces.append(line("{\"lost\":3}"), urlOf(log));
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), posix(EIO));
    EXPECT_EQ(readBytes(log), expected);
    EXPECT_EQ(countNamesContaining(directory.path(), ".staged."), 0u);
}

TEST(SystemLauncherProofFileSystem, TheRenameIsMadeDurableByADirectorySync) {
    TemporaryDirectory directory;
    auto log = directory / "log.jsonl";
    SystemLauncherProofFileSystem files;
    std::vector<std::string> synced; // "file:<content>" or "directory"
    bool failDirectory = false;
    files.systemCalls.fsync = [&](int fd) {
        struct stat status {};
        ::fstat(fd, &status);
        if (S_ISDIR(status.st_mode)) {
            synced.push_back(pathExists(log) ? "directory after rename"
                                             : "directory before rename");
            if (failDirectory) {
                errno = EIO;
                return -1;
            }
        } else {
            synced.push_back("file");
        }
        return ::fsync(fd);
    };
    ASSERT_TRUE(files.append(line("one"), urlOf(log)));
    EXPECT_EQ(synced, (std::vector<std::string>{"file", "directory after rename"}));

    // The new content is in place but not known to be durable: that is reported.
    failDirectory = true;
    auto result = files.append(line("two"), urlOf(log));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), posix(EIO));
    EXPECT_EQ(readBytes(log), bytesOf("one\ntwo\n"));
    EXPECT_EQ(countNamesContaining(directory.path(), ".staged."), 0u);

    // A failing sync of the staged file leaves the old content.
    files.systemCalls.fsync = [](int) {
        errno = EIO;
        return -1;
    };
    ASSERT_FALSE(files.append(line("three"), urlOf(log)));
    EXPECT_EQ(readBytes(log), bytesOf("one\ntwo\n"));
    EXPECT_EQ(countNamesContaining(directory.path(), ".staged."), 0u);
}

TEST(SystemLauncherProofFileSystem, FailedReplacementSparesAFileThatTookTheStagedName) {
    TemporaryDirectory directory;
    auto log = directory / "log.jsonl";
    SystemLauncherProofFileSystem files;
    std::filesystem::path stranger;
    files.atomicReplaceFault =
        [&](LauncherProofAtomicReplaceStage) -> std::optional<std::error_code> {
        // Somebody replaces our staged file by their own before the failure is cleaned up.
        for (const auto& name : test::directoryNames(directory.path())) {
            if (name.find(".staged.") != std::string::npos)
                stranger = directory / name;
        }
        std::filesystem::remove(stranger);
        writeBytes(stranger, line("theirs"));
        return posix(EIO);
    };
    ASSERT_FALSE(files.append(line("ours"), urlOf(log)));
    ASSERT_FALSE(stranger.empty());
    EXPECT_EQ(readBytes(stranger), line("theirs"));
    EXPECT_FALSE(pathExists(log));
}

TEST(SystemLauncherProofFileSystem, ReadDataKeepsItsCap) {
    TemporaryDirectory directory;
    SystemLauncherProofFileSystem files;
    auto file = directory / "lease.json";

    writeBytes(file, Bytes(16384, 'x'));
    auto atCap = files.readData(urlOf(file), 16384);
    ASSERT_TRUE(atCap);
    EXPECT_EQ(atCap->size(), 16384u);

    writeBytes(file, Bytes(16385, 'x'));
    auto aboveCap = files.readData(urlOf(file), 16384);
    ASSERT_FALSE(aboveCap);
    EXPECT_EQ(aboveCap.error(), fileError(LauncherProofFileError::fileReadCorruptFile));

    writeBytes(file, {});
    auto empty = files.readData(urlOf(file), 16384);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());

    writeBytes(file, bytesOf("small"));
    auto link = directory / "link.json";
    std::filesystem::create_symlink(file, link);
    auto throughLink = files.readData(urlOf(link), 16384);
    ASSERT_FALSE(throughLink);
    EXPECT_EQ(throughLink.error(), fileError(LauncherProofFileError::fileReadCorruptFile));

    auto missing = files.readData(urlOf(directory / "missing.json"), 16384);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), posix(ENOENT));

    // A FIFO with no writer would block an ordinary open for ever; it is refused at once.
    auto fifo = directory / "fifo.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto fromFifo = files.readData(urlOf(fifo), 16384);
    ASSERT_FALSE(fromFifo);
    EXPECT_EQ(fromFifo.error(), fileError(LauncherProofFileError::fileReadCorruptFile));

    auto fromDirectory = files.readData(urlOf(directory.path()), 16384);
    ASSERT_FALSE(fromDirectory);
    EXPECT_EQ(fromDirectory.error(), posix(EISDIR));
}

TEST(SystemLauncherProofFileSystem, ClaimTakesTheFileAwayOnce) {
    TemporaryDirectory directory;
    SystemLauncherProofFileSystem files;
    auto folder = directory / "support" / "com.quorvel.desktop";
    auto lease = folder / "launcher-proof-lease.json";

    // Nothing to claim: ENOENT, but the folder and the lock file now exist.
    auto nothing = files.claimItem(urlOf(lease), 16384);
    ASSERT_FALSE(nothing);
    EXPECT_EQ(nothing.error(), posix(ENOENT));
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

TEST(SystemLauncherProofFileSystem, ClaimDestroysWhatItCannotRead) {
    TemporaryDirectory directory;
    SystemLauncherProofFileSystem files;
    auto lease = directory / "lease.json";

    writeBytes(lease, Bytes(16385, ' '));
    auto oversize = files.claimItem(urlOf(lease), 16384);
    ASSERT_FALSE(oversize);
    EXPECT_EQ(oversize.error(), fileError(LauncherProofFileError::fileReadCorruptFile));
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

TEST(SystemLauncherProofFileSystem, RemoveIfIdentityMatchesChecksTheIdentity) {
    TemporaryDirectory directory;
    auto path = directory / "file";
    writeBytes(path, bytesOf("x"));
    struct stat status {};
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    LauncherProofFileIdentity wrongInode{static_cast<std::uint64_t>(status.st_dev),
                                         static_cast<std::uint64_t>(status.st_ino) + 1,
                                         std::nullopt};
    SystemLauncherProofFileSystem::removeIfIdentityMatches(urlOf(path), wrongInode);
    EXPECT_TRUE(pathExists(path));
    LauncherProofFileIdentity same{static_cast<std::uint64_t>(status.st_dev),
                                   static_cast<std::uint64_t>(status.st_ino), std::nullopt};
    SystemLauncherProofFileSystem::removeIfIdentityMatches(urlOf(path), same);
    EXPECT_FALSE(pathExists(path));
    SystemLauncherProofFileSystem::removeIfIdentityMatches(urlOf(path),
                                                           same); // nothing there: no-op
}

} // namespace
} // namespace quorvel

#include "base/Logger.h"
#include "base/Uuid.h"
#include "platform/ApplicationSupport.h"
#include "proof/SystemLauncherProofFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quorvel {

namespace {

// Owns one descriptor; closes it once, ignoring the result (nothing useful can follow a failed
// close of a descriptor that was only read, or that was synced before).
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::error_code lastPosixError() {
    return posixError(errno);
}

Unexpected<std::error_code> failure(std::error_code error) {
    return unexpected(error);
}
Unexpected<std::error_code> failure(LauncherProofFileError error) {
    return unexpected(make_error_code(error));
}

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

std::optional<std::uint32_t> generationOf(int fd) {
    // The kernel stores a 32-bit generation through a pointer declared as long.
    long generation = 0;
    if (::ioctl(fd, FS_IOC_GETVERSION, &generation) != 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(generation);
}

LauncherProofFileIdentity identityOf(const struct stat& status,
                                     std::optional<std::uint32_t> generation) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            generation};
}

void removeRecursively(const FileURL& url) {
    std::error_code ignored;
    std::filesystem::remove_all(url.path, ignored);
}

// Opens a regular file of at most maxBytes bytes for reading, refusing a symbolic link, a file
// above the cap and anything that is not a regular file; status is the opened file's.
Expected<int, std::error_code> openCapped(const FileURL& at, std::int64_t maxBytes,
                                          struct stat& status) {
    if (::lstat(at.path.c_str(), &status) != 0)
        return failure(lastPosixError());
    if (S_ISLNK(status.st_mode))
        return failure(LauncherProofFileError::fileReadCorruptFile);
    if (maxBytes < 0 || status.st_size > maxBytes)
        return failure(LauncherProofFileError::fileReadCorruptFile);

    // No-follow closes the window in which the item could be swapped for a link after the check
    // above; non-blocking keeps a FIFO planted at the path from blocking the caller forever.
    Descriptor file(
        openRetrying(at.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid()) {
        if (errno == ELOOP)
            return failure(LauncherProofFileError::fileReadCorruptFile);
        return failure(lastPosixError());
    }
    if (::fstat(file.get(), &status) != 0)
        return failure(lastPosixError());
    if (S_ISDIR(status.st_mode))
        return failure(posixError(EISDIR));
    if (!S_ISREG(status.st_mode))
        return failure(LauncherProofFileError::fileReadCorruptFile);
    if (status.st_size > maxBytes)
        return failure(LauncherProofFileError::fileReadCorruptFile);
    return file.release();
}

// Copies count bytes from the start of source to the current position of destination inside the
// kernel (no pass through user memory; a reflink where the file system offers one), falling back
// to reads and writes where the file system cannot copy.
std::optional<std::error_code> copyPrefix(int source, int destination, std::uint64_t count,
                                          const LauncherProofSystemCalls& calls) {
    off_t offset = 0;
    bool kernelCopy = true;
    std::vector<std::uint8_t> buffer;
    while (static_cast<std::uint64_t>(offset) < count) {
        const auto remaining = static_cast<std::size_t>(count - static_cast<std::uint64_t>(offset));
        if (kernelCopy) {
            ssize_t copied = calls.copyFileRange(source, &offset, destination, remaining);
            if (copied > 0)
                continue;
            if (copied == 0)
                return make_error_code(LauncherProofFileError::fileReadCorruptFile); // shrank
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
                return lastPosixError();
            kernelCopy = false;
            buffer.resize(1024 * 1024);
        }
        ssize_t got = ::pread(source, buffer.data(), std::min(remaining, buffer.size()), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return lastPosixError();
        if (got == 0)
            return make_error_code(LauncherProofFileError::fileReadCorruptFile);
        auto piece = std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got));
        while (!piece.empty()) {
            ssize_t written = calls.write(destination, piece.data(), piece.size());
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return written < 0 ? lastPosixError() : posixError(EIO);
            piece = piece.subspan(static_cast<std::size_t>(written));
        }
        offset += got;
    }
    return std::nullopt;
}

// The claim locks this process holds, by claimed path: each an open descriptor of the claimed
// file with an exclusive flock on it.
class HeldClaimLocks {
public:
    bool hold(const std::string& path) {
        int fd =
            openRetrying(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        std::lock_guard guard(mutex_);
        if (auto previous = held_.find(path); previous != held_.end())
            ::close(previous->second);
        held_[path] = fd;
        return true;
    }
    void release(const std::string& path) {
        std::lock_guard guard(mutex_);
        if (auto found = held_.find(path); found != held_.end()) {
            ::close(found->second);
            held_.erase(found);
        }
    }

private:
    std::mutex mutex_;
    std::map<std::string, int> held_;
};

HeldClaimLocks& heldClaimLocks() {
    static HeldClaimLocks locks;
    return locks;
}

Logger proofFileLogger() {
    return Logger(logSubsystem, "LoginLauncher");
}

FileURL hiddenSibling(const FileURL& target, std::string_view infix) {
    return target.deletingLastPathComponent().appendingPathComponent(
        "." + target.lastPathComponent() + std::string(infix) + randomUuidString());
}

} // namespace

LauncherProofSystemCalls LauncherProofSystemCalls::standard() {
    return {[](int fd, const void* bytes, std::size_t count) { return ::write(fd, bytes, count); },
            [](int fd) { return ::fsync(fd); },
            [](int source, off_t* sourceOffset, int destination, std::size_t count) {
                return ::copy_file_range(source, sourceOffset, destination, nullptr, count, 0);
            }};
}

FileURL SystemLauncherProofFileSystem::stagedURL(const FileURL& target) {
    return hiddenSibling(target, ".staged.");
}

FileURL SystemLauncherProofFileSystem::claimedURL(const FileURL& target) {
    return hiddenSibling(target, ".claimed.");
}

FileURL SystemLauncherProofFileSystem::lockURL(const FileURL& target) {
    return target.deletingLastPathComponent().appendingPathComponent(target.lastPathComponent() +
                                                                     ".lock");
}

LauncherProofFileSystem::VoidResult
SystemLauncherProofFileSystem::createDirectory(const FileURL& at) const {
    if (at.path.empty())
        return failure(posixError(ENOENT));
    struct stat status {};
    if (::stat(at.path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            return {};
        return failure(posixError(ENOTDIR));
    }
    // Create every component from the top; one that exists already (made by us earlier or by a
    // concurrent process) must be a directory, possibly through a symbolic link.
    std::size_t end = 0;
    while (end != std::string::npos) {
        end = at.path.find('/', end + 1);
        std::string prefix = at.path.substr(0, end);
        if (prefix.empty() || prefix.back() == '/')
            continue;
        if (::mkdir(prefix.c_str(), 0777) == 0)
            continue;
        int mkdirError = errno;
        if (mkdirError != EEXIST)
            return failure(posixError(mkdirError));
        if (::stat(prefix.c_str(), &status) != 0)
            return failure(lastPosixError());
        if (!S_ISDIR(status.st_mode))
            return failure(posixError(ENOTDIR));
    }
    return {};
}

LauncherProofFileSystem::VoidResult SystemLauncherProofFileSystem::withExclusiveLeaseLock(
    const FileURL& target, const std::function<VoidResult()>& body) const {
    if (auto created = createDirectory(target.deletingLastPathComponent()); !created)
        return created;
    Descriptor lock(openRetrying(lockURL(target).path.c_str(),
                                 O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock.valid())
        return failure(lastPosixError());
    int result;
    do {
        result = ::flock(lock.get(), LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        return failure(lastPosixError());
    VoidResult outcome = body();
    ::flock(lock.get(), LOCK_UN);
    return outcome;
}

Expected<Bytes, std::error_code>
SystemLauncherProofFileSystem::readData(const FileURL& at, std::int64_t maxBytes) const {
    struct stat status {};
    auto opened = openCapped(at, maxBytes, status);
    if (!opened)
        return failure(opened.error());
    Descriptor file(*opened);

    // Read up to maxBytes + 1 bytes: one byte more than allowed proves that the file grew.
    const auto limit = static_cast<std::uint64_t>(maxBytes) + 1;
    std::uint64_t capacity =
        std::min<std::uint64_t>(limit, static_cast<std::uint64_t>(status.st_size) + 1);
    Bytes data(static_cast<std::size_t>(capacity));
    std::size_t count = 0;
    for (;;) {
        if (count == data.size()) {
            if (data.size() >= limit)
                break;
            data.resize(
                static_cast<std::size_t>(std::min<std::uint64_t>(limit, data.size() * 2 + 4096)));
        }
        ssize_t got = ::read(file.get(), data.data() + count, data.size() - count);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return failure(lastPosixError());
        }
        if (got == 0)
            break;
        count += static_cast<std::size_t>(got);
    }
    if (count > static_cast<std::uint64_t>(maxBytes))
        return failure(LauncherProofFileError::fileReadTooLarge);
    data.resize(count);
    return data;
}

std::optional<std::error_code>
SystemLauncherProofFileSystem::writeAll(int fd, std::span<const std::uint8_t> bytes) const {
    while (!bytes.empty()) {
        ssize_t written = systemCalls.write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return lastPosixError();
        // A write that makes no progress would loop forever; report it as an I/O error.
        if (written == 0)
            return posixError(EIO);
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

LauncherProofFileSystem::VoidResult
SystemLauncherProofFileSystem::replaceAtomicallyUnderLock(const Bytes& data,
                                                          const FileURL& target) const {
    return replaceAtomicallyUnderLock([&](int staged) { return writeAll(staged, data); }, target);
}

LauncherProofFileSystem::VoidResult
SystemLauncherProofFileSystem::replaceAtomicallyUnderLock(const ContentWriter& writeContent,
                                                          const FileURL& target) const {
    const FileURL staged = stagedURL(target);
    Descriptor file(openRetrying(staged.path.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.valid())
        return failure(lastPosixError());

    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return failure(lastPosixError());
    const LauncherProofFileIdentity identity = identityOf(status, generationOf(file.get()));

    auto abandon = [&](std::error_code error) -> VoidResult {
        file.reset();
        removeIfIdentityMatches(staged, identity);
        return failure(error);
    };

    if (auto error = writeContent(file.get()))
        return abandon(*error);
    if (auto fault = atomicReplaceFault(LauncherProofAtomicReplaceStage::stagedWrite))
        return abandon(*fault);
    if (::fchmod(file.get(), 0600) != 0)
        return abandon(lastPosixError());
    if (systemCalls.fsync(file.get()) != 0)
        return abandon(lastPosixError());
    if (auto fault = atomicReplaceFault(LauncherProofAtomicReplaceStage::stagedSync))
        return abandon(*fault);
    if (::rename(staged.path.c_str(), target.path.c_str()) != 0)
        return abandon(lastPosixError());
    file.reset();

    // The rename lives in the directory: without syncing it, a power loss may bring the old
    // content back. But from the rename on, every reader sees the new content, and callers act on
    // what we answer (the witness deletes the lease of an appended attestation): answering "not
    // written" now would contradict the file. So a folder that cannot be synced (one we may
    // write but not read cannot even be opened) is logged, and the replacement stands.
    const FileURL folder = target.deletingLastPathComponent();
    Descriptor directory(openRetrying(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int syncError = 0;
    if (!directory.valid())
        syncError = errno;
    else if (systemCalls.fsync(directory.get()) != 0 && errno != EINVAL)
        syncError = errno;
    if (syncError != 0) {
        proofFileLogger().error(
            "proof_file folder_sync=failed errno=%{public}d folder=%{public}s",
            {static_cast<std::int64_t>(syncError), std::string_view(folder.path)});
    }
    return {};
}

void SystemLauncherProofFileSystem::removeIfIdentityMatches(
    const FileURL& path, const LauncherProofFileIdentity& expected) {
    struct stat status {};
    if (::lstat(path.path.c_str(), &status) != 0)
        return;
    if (identityOf(status, expected.generation) != expected)
        return;
    if (expected.generation) {
        // The generation is only readable through a descriptor. Only a regular file can match
        // device and inode of the staged file, so opening it has no side effect.
        if (!S_ISREG(status.st_mode))
            return;
        Descriptor file(openRetrying(path.path.c_str(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!file.valid() || ::fstat(file.get(), &status) != 0)
            return;
        if (identityOf(status, generationOf(file.get())) != expected)
            return;
    }
    ::unlink(path.path.c_str());
}

LauncherProofFileSystem::VoidResult SystemLauncherProofFileSystem::append(const Bytes& data,
                                                                          const FileURL& to) const {
    if (data.empty() || data.back() != 0x0A)
        return failure(LauncherProofFileError::fileWriteInapplicableStringEncoding);
    return withExclusiveLeaseLock(to, [&]() -> VoidResult {
        // The existing log passes the checks of readData; its bytes are then copied into the
        // staged file by the kernel instead of through a 16 MiB buffer of ours.
        std::optional<Descriptor> existing;
        std::uint64_t existingSize = 0;
        struct stat status {};
        if (::stat(to.path.c_str(), &status) == 0) {
            auto opened = openCapped(to, appendLimit, status);
            if (!opened)
                return failure(opened.error());
            existing.emplace(*opened);
            existingSize = static_cast<std::uint64_t>(status.st_size);
            if (existingSize > 0) {
                std::uint8_t last = 0;
                ssize_t got;
                do {
                    got = ::pread(existing->get(), &last, 1, static_cast<off_t>(existingSize - 1));
                } while (got < 0 && errno == EINTR);
                if (got < 0)
                    return failure(lastPosixError());
                if (got == 0 || last != 0x0A)
                    return failure(LauncherProofFileError::fileReadCorruptFile);
            }
        } else if (errno != ENOENT) {
            return failure(lastPosixError());
        }
        const auto recordSize = static_cast<std::uint64_t>(data.size());
        const auto limit = static_cast<std::uint64_t>(appendLimit);
        if (recordSize > limit || existingSize > limit - recordSize)
            return failure(LauncherProofFileError::fileWriteOutOfSpace);
        return replaceAtomicallyUnderLock(
            [&](int staged) -> std::optional<std::error_code> {
                if (existing) {
                    if (auto error = copyPrefix(existing->get(), staged, existingSize, systemCalls))
                        return error;
                }
                return writeAll(staged, data);
            },
            to);
    });
}

Expected<LauncherProofFileClaim, std::error_code>
SystemLauncherProofFileSystem::claimItem(const FileURL& at, std::int64_t maxBytes) const {
    std::optional<LauncherProofFileClaim> claim;
    auto locked = withExclusiveLeaseLock(at, [&]() -> VoidResult {
        FileURL claimed = claimedURL(at);
        if (::rename(at.path.c_str(), claimed.path.c_str()) != 0)
            return failure(lastPosixError());
        auto data = readData(claimed, maxBytes);
        if (!data) {
            removeRecursively(claimed);
            return failure(data.error());
        }
        // Without its lock the claim would look abandoned to the next launcher that starts: give
        // it back instead (or leave it for recovery if even that fails).
        if (!heldClaimLocks().hold(claimed.path)) {
            int error = errno;
            ::renameat2(AT_FDCWD, claimed.path.c_str(), AT_FDCWD, at.path.c_str(),
                        RENAME_NOREPLACE);
            return failure(posixError(error));
        }
        claim = LauncherProofFileClaim{std::move(claimed), std::move(data.value())};
        return {};
    });
    if (!locked)
        return failure(locked.error());
    return std::move(*claim);
}

void SystemLauncherProofFileSystem::restoreClaim(const LauncherProofFileClaim& claim,
                                                 const FileURL& to) const {
    // The claim's lock goes only once the file is back or gone: until then it is ours.
    struct Release {
        const std::string& path;
        ~Release() { heldClaimLocks().release(path); }
    } release{claim.claimedURL.path};
    [[maybe_unused]] auto ignored = withExclusiveLeaseLock(to, [&]() -> VoidResult {
        struct stat status {};
        if (::lstat(to.path.c_str(), &status) == 0) {
            removeRecursively(claim.claimedURL); // something newer lies at the path: it wins
            return {};
        }
        if (errno != ENOENT)
            return {};
        // No-replace keeps a lease that a writer put at the path without taking the lock (after
        // the check above) from being overwritten by the older claimed one.
        if (::renameat2(AT_FDCWD, claim.claimedURL.path.c_str(), AT_FDCWD, to.path.c_str(),
                        RENAME_NOREPLACE) == 0) {
            return {};
        }
        if (errno == EEXIST) {
            removeRecursively(claim.claimedURL);
        } else if (errno == EINVAL || errno == ENOSYS) {
            // A file system without no-replace renames: the plain rename of the original design.
            ::rename(claim.claimedURL.path.c_str(), to.path.c_str());
        }
        return {};
    });
}

void SystemLauncherProofFileSystem::consumeClaim(const LauncherProofFileClaim& claim) const {
    removeRecursively(claim.claimedURL);
    heldClaimLocks().release(claim.claimedURL.path);
}

std::vector<LauncherProofRecoveredClaim>
SystemLauncherProofFileSystem::recoverAbandonedClaims(const FileURL& target, std::int64_t maxBytes,
                                                      const AbandonedClaimDecision& decide) const {
    std::vector<LauncherProofRecoveredClaim> recovered;
    const FileURL folder = target.deletingLastPathComponent();
    const std::string prefix = "." + target.lastPathComponent() + ".claimed.";
    // Under the target's lock no claimant is between its rename and taking the claim's lock, and
    // no other recovery runs.
    [[maybe_unused]] auto ignored = withExclusiveLeaseLock(target, [&]() -> VoidResult {
        std::vector<std::string> names;
        if (DIR* directory = ::opendir(folder.path.c_str())) {
            while (dirent* entry = ::readdir(directory)) {
                std::string_view name(entry->d_name);
                if (name.starts_with(prefix))
                    names.emplace_back(name);
            }
            ::closedir(directory);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const FileURL claimed = folder.appendingPathComponent(name);
            Descriptor lock(openRetrying(claimed.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK |
                                                                   O_NOCTTY | O_CLOEXEC));
            if (!lock.valid() && errno == ENOENT)
                continue;
            // A live claimant holds the lock; what cannot even be opened (a symbolic link, say) has
            // no claimant to wait for.
            if (lock.valid() && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
                continue;

            LauncherProofAbandonedClaim abandoned;
            abandoned.claim.claimedURL = claimed;
            if (lock.valid()) {
                if (auto data = readData(claimed, maxBytes)) {
                    abandoned.claim.data = std::move(data.value());
                    abandoned.readable = true;
                }
            }
            struct stat status {};
            abandoned.targetFree = ::lstat(target.path.c_str(), &status) != 0 && errno == ENOENT;

            bool putBack = false;
            if (decide(abandoned) == LauncherProofAbandonedClaimFate::putBack &&
                abandoned.targetFree) {
                putBack = ::renameat2(AT_FDCWD, claimed.path.c_str(), AT_FDCWD, target.path.c_str(),
                                      RENAME_NOREPLACE) == 0;
            }
            if (!putBack)
                removeRecursively(claimed);
            recovered.push_back({claimed, putBack});
        }
        return {};
    });
    return recovered;
}

} // namespace quorvel

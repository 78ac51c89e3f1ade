#include "base/Uuid.h"
#include "proof/SystemLauncherProofFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

FileURL hiddenSibling(const FileURL& target, std::string_view infix) {
    return target.deletingLastPathComponent().appendingPathComponent(
        "." + target.lastPathComponent() + std::string(infix) + randomUuidString());
}

} // namespace

LauncherProofSystemCalls LauncherProofSystemCalls::standard() {
    return {[](int fd, const void* bytes, std::size_t count) { return ::write(fd, bytes, count); },
            [](int fd) { return ::fsync(fd); }};
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

LauncherProofFileSystem::VoidResult
SystemLauncherProofFileSystem::replaceAtomicallyUnderLock(const Bytes& data,
                                                          const FileURL& target) const {
    std::span<const std::uint8_t> piece(data);
    return replaceAtomicallyUnderLock(std::span(&piece, 1), target);
}

LauncherProofFileSystem::VoidResult SystemLauncherProofFileSystem::replaceAtomicallyUnderLock(
    std::span<const std::span<const std::uint8_t>> pieces, const FileURL& target) const {
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

    for (std::span<const std::uint8_t> piece : pieces) {
        while (!piece.empty()) {
            ssize_t written = systemCalls.write(file.get(), piece.data(), piece.size());
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                return abandon(lastPosixError());
            // A write that makes no progress would loop forever; report it as an I/O error.
            if (written == 0)
                return abandon(posixError(EIO));
            piece = piece.subspan(static_cast<std::size_t>(written));
        }
    }
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
    // content back although the new content was reported written. The new content is already in
    // place, so a failure here is reported but nothing is undone.
    Descriptor directory(openRetrying(target.deletingLastPathComponent().path.c_str(),
                                      O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid())
        return failure(lastPosixError());
    if (systemCalls.fsync(directory.get()) != 0 && errno != EINVAL)
        return failure(lastPosixError());
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
        Bytes existing;
        struct stat status {};
        if (::stat(to.path.c_str(), &status) == 0) {
            auto read = readData(to, appendLimit);
            if (!read)
                return failure(read.error());
            existing = std::move(read.value());
            if (!existing.empty() && existing.back() != 0x0A)
                return failure(LauncherProofFileError::fileReadCorruptFile);
        } else if (errno != ENOENT) {
            return failure(lastPosixError());
        }
        const auto recordSize = static_cast<std::int64_t>(data.size());
        if (recordSize > appendLimit)
            return failure(LauncherProofFileError::fileWriteOutOfSpace);
        if (static_cast<std::int64_t>(existing.size()) > appendLimit - recordSize) {
            return failure(LauncherProofFileError::fileWriteOutOfSpace);
        }
        const std::span<const std::uint8_t> pieces[] = {existing, data};
        return replaceAtomicallyUnderLock(pieces, to);
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
        claim = LauncherProofFileClaim{std::move(claimed), std::move(data.value())};
        return {};
    });
    if (!locked)
        return failure(locked.error());
    return std::move(*claim);
}

void SystemLauncherProofFileSystem::restoreClaim(const LauncherProofFileClaim& claim,
                                                 const FileURL& to) const {
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
}

} // namespace quorvel

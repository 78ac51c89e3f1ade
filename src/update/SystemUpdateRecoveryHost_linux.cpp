#include "base/AtomicFile.h"
#include "base/SmallFile.h"
#include "base/Uuid.h"
#include "codesign/BundleSignature.h"
#include "codesign/TrustedKey.h"
#include "update/SystemUpdateRecoveryHost.h"
#include "update/UpdateCommand.h"
#include "update/UpdateRecovery.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quorvel {

namespace {

// A path as a command argument that cannot be mistaken for an option.
std::string argumentPath(const FileURL& url) {
    return !url.path.empty() && url.path.front() == '-' ? "./" + url.path : url.path;
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

// The room one entry takes: whole blocks, at least one.
std::uint64_t entryCost(std::uint64_t size) {
    constexpr std::uint64_t block = UpdateRecoveryLimits::extractedBlockSize;
    std::uint64_t blocks = size / block + (size % block != 0 ? 1 : 0);
    return std::max<std::uint64_t>(blocks, 1) * block;
}

// One line of bsdtar's mtree listing ("./path type=file size=123"; names are escaped, so the
// fields are separated by single blanks), as the room its entry will take.
std::uint64_t listedEntryCost(std::string_view line) {
    std::uint64_t size = 0;
    bool regular = false;
    std::size_t start = line.find(' ');
    while (start != std::string_view::npos) {
        auto end = line.find(' ', start + 1);
        std::string_view field = line.substr(
            start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
        if (field == "type=file")
            regular = true;
        if (field.starts_with("size=")) {
            std::string_view digits = field.substr(5);
            auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), size);
            if (parsed.ec != std::errc() || parsed.ptr != digits.data() + digits.size())
                size = std::numeric_limits<std::uint64_t>::max();
        }
        start = end;
    }
    return entryCost(regular ? size : 0);
}

bool isCanonicalUuid(std::string_view text) {
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

bool isRecoverySibling(std::string_view entry, const std::string& bundleName) {
    for (const char* infix : {".restore.", ".failed."}) {
        std::string prefix = "." + bundleName + infix;
        if (entry.starts_with(prefix) && isCanonicalUuid(entry.substr(prefix.size())))
            return true;
    }
    return false;
}

} // namespace

std::shared_ptr<UpdateRecoveryHost> makeSystemUpdateRecoveryHost() {
    return std::make_shared<SystemUpdateRecoveryHost>();
}

SystemUpdateRecoveryHost::~SystemUpdateRecoveryHost() {
    for (const auto& [path, fd] : heldScratch_)
        ::close(fd);
}

std::optional<Bytes> SystemUpdateRecoveryHost::readFile(const FileURL& file, std::size_t limit) {
    // Regular files only: a FIFO put in the file's place must not hang the launcher.
    auto read = readSmallRegularFile(file, limit);
    if (!read)
        return std::nullopt;
    return bytesOf(read->contents);
}

UpdateBundleCondition SystemUpdateRecoveryHost::condition(const FileURL& bundle) {
    // Anything at the path, a dangling link included, is something to check and, if need be, to
    // set aside; only a path that names nothing is missing.
    struct stat info {};
    if (::lstat(bundle.path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        return UpdateBundleCondition::missing;
    }
    // In a child process: the cryptography library it loads, and whatever the check allocates,
    // go with it, and do not stay with the launcher for the rest of the session. Anything but a
    // clean pass within the time limit (a crash, a hang, a library that cannot be loaded) leaves
    // the bundle unverified.
    const std::string& pem =
        options_.trustedKeyPem ? *options_.trustedKeyPem : std::string(builtInTrustedKeyPem);
    auto deadline = std::chrono::steady_clock::now() + options_.commandTimeLimit;
    auto checked = runInChildProcess(
        [&] {
            std::string error;
            codesign::Key key = codesign::loadPublicKeyPem(pem, error);
            if (!key)
                return 1;
            codesign::VerifyOptions verify;
            verify.deep = true;
            verify.strict = true;
            verify.deadline = deadline;
            return codesign::verifyBundle(bundle.path, key.get(), verify).empty() ? 0 : 1;
        },
        options_.commandTimeLimit);
    return checked.succeeded() ? UpdateBundleCondition::verified
                               : UpdateBundleCondition::unverified;
}

UpdateRecoveryResult<FileURL>
SystemUpdateRecoveryHost::makeScratchDirectory(const FileURL& bundle) {
    FileURL scratch = bundle.deletingLastPathComponent().appendingPathComponent(
        "." + bundle.lastPathComponent() + ".restore." + randomUuidString());
    if (::mkdir(scratch.path.c_str(), 0777) != 0) {
        return unexpected(UpdateRecoveryHostError::fileSystem(errno, "mkdir " + scratch.path));
    }
    // Held from here until it is removed. Another recovery's sweep may have taken the fresh folder
    // for a stale one before the lock: then it is gone (or going), and the step fails.
    int fd = ::open(scratch.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat held {
    }, named{};
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &held) != 0 ||
        ::lstat(scratch.path.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev) {
        int error = errno != 0 ? errno : ENOENT;
        if (fd >= 0)
            ::close(fd);
        return unexpected(UpdateRecoveryHostError::fileSystem(error, "lock " + scratch.path));
    }
    heldScratch_[scratch.path] = fd;
    return scratch;
}

std::uint64_t SystemUpdateRecoveryHost::diskUsage(const FileURL& item) {
    namespace fs = std::filesystem;
    std::error_code error;
    auto status = fs::symlink_status(item.path, error);
    if (error || !fs::exists(status))
        return 0;
    if (!fs::is_directory(status))
        return entryCost(fs::is_regular_file(status) ? fs::file_size(item.path, error) : 0);
    auto deadline = std::chrono::steady_clock::now() + options_.commandTimeLimit;
    std::uint64_t total = entryCost(0);
    for (auto it = fs::recursive_directory_iterator(item.path, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::error_code ignored;
        bool regular = it->is_regular_file(ignored) && !it->is_symlink(ignored);
        total = saturatingAdd(total, entryCost(regular ? it->file_size(ignored) : 0));
    }
    return total;
}

UpdateRecoveryResult<std::vector<FileURL>>
SystemUpdateRecoveryHost::extractArchive(const FileURL& archive, const FileURL& directory,
                                         std::uint64_t sizeLimit) {
    auto refused = [&archive](const std::string& why) {
        return unexpected(UpdateRecoveryHostError{UpdateRecoveryHostError::Kind::corruptArchive,
                                                  std::make_error_code(std::errc::io_error),
                                                  why + " " + archive.path});
    };
    struct statvfs space {};
    if (::statvfs(directory.path.c_str(), &space) != 0) {
        return unexpected(UpdateRecoveryHostError::fileSystem(errno, "statvfs " + directory.path));
    }
    const std::uint64_t free = static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
    const std::uint64_t allowed = std::min(sizeLimit, free);

    // First the entries' sizes, from the archive's own listing: nothing is written until they are
    // known to fit. The listing stops as soon as they add up to too much.
    std::uint64_t total = 0;
    auto listing =
        runUpdateCommand(options_.archiveTool,
                         {"-c", "-f", "-", "--format=mtree", "--options=!all,type,size",
                          "@" + argumentPath(archive)},
                         options_.commandTimeLimit, [&total, allowed](std::string_view line) {
                             if (line.empty() || line.front() == '#' || line.front() == '/')
                                 return true;
                             total = saturatingAdd(total, listedEntryCost(line));
                             return total <= allowed;
                         });
    if (listing.status == UpdateCommandResult::Status::stopped || total > allowed)
        return refused("too large to unpack:");
    if (!listing.succeeded())
        return refused("cannot list");

    auto result = runUpdateCommand(
        options_.archiveTool, {"-x", "-f", argumentPath(archive), "-C", argumentPath(directory)},
        options_.commandTimeLimit);
    if (!result.succeeded())
        return refused("cannot unpack");
    DIR* entries = ::opendir(directory.path.c_str());
    if (!entries)
        return unexpected(UpdateRecoveryHostError::fileSystem(errno, "opendir " + directory.path));
    std::vector<std::string> names;
    errno = 0;
    while (dirent* entry = ::readdir(entries)) {
        if (entry->d_name[0] == '.')
            continue; // hidden entries, "." and ".." included
        names.emplace_back(entry->d_name);
    }
    int listingError = errno;
    ::closedir(entries);
    if (listingError != 0) {
        return unexpected(
            UpdateRecoveryHostError::fileSystem(listingError, "readdir " + directory.path));
    }
    std::sort(names.begin(), names.end());
    std::vector<FileURL> found;
    for (const auto& name : names)
        found.push_back(directory.appendingPathComponent(name));
    return found;
}

UpdateRecoveryResult<void> SystemUpdateRecoveryHost::moveItem(const FileURL& source,
                                                              const FileURL& destination) {
    if (::renameat2(AT_FDCWD, source.path.c_str(), AT_FDCWD, destination.path.c_str(),
                    RENAME_NOREPLACE) == 0) {
        return {};
    }
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        // File systems without no-replace renames: look first, then rename.
        struct stat info {};
        if (::lstat(destination.path.c_str(), &info) == 0) {
            return unexpected(
                UpdateRecoveryHostError::fileSystem(EEXIST, "rename to " + destination.path));
        }
        if (::rename(source.path.c_str(), destination.path.c_str()) == 0)
            return {};
        error = errno;
    }
    return unexpected(UpdateRecoveryHostError::fileSystem(error, "rename " + source.path + " to " +
                                                                     destination.path));
}

UpdateRecoveryResult<void> SystemUpdateRecoveryHost::exchangeItems(const FileURL& first,
                                                                   const FileURL& second) {
    if (::renameat2(AT_FDCWD, first.path.c_str(), AT_FDCWD, second.path.c_str(), RENAME_EXCHANGE) ==
        0) {
        return {};
    }
    int error = errno;
    auto failure = UpdateRecoveryHostError::fileSystem(error, "exchange " + first.path + " and " +
                                                                  second.path);
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP)
        failure.kind = UpdateRecoveryHostError::Kind::unsupported;
    return unexpected(failure);
}

std::vector<FileURL> SystemUpdateRecoveryHost::removeStaleSiblings(const FileURL& bundle) {
    const FileURL parent = bundle.deletingLastPathComponent();
    const std::string name = bundle.lastPathComponent();
    std::vector<std::string> candidates;
    if (DIR* listing = ::opendir(parent.path.empty() ? "." : parent.path.c_str())) {
        while (dirent* entry = ::readdir(listing)) {
            if (isRecoverySibling(entry->d_name, name))
                candidates.emplace_back(entry->d_name);
        }
        ::closedir(listing);
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<FileURL> removed;
    for (const auto& candidate : candidates) {
        FileURL sibling = parent.appendingPathComponent(candidate);
        if (heldScratch_.count(sibling.path))
            continue;
        // A running recovery keeps its folder locked; one that was killed left it unlocked. A
        // sibling that is no folder (a set-aside link or file) has no lock and no owner to wait
        // for.
        int fd = ::open(sibling.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        removeItem(sibling);
        if (fd >= 0)
            ::close(fd);
        removed.push_back(sibling);
    }
    return removed;
}

void SystemUpdateRecoveryHost::removeItem(const FileURL& item) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::remove_all(item.path, error);
    if (error) {
        // A tree with read-only folders (as unpacked from an archive) cannot be emptied; give the
        // owner write access back, then try once more. Links are never followed.
        for (auto it = fs::recursive_directory_iterator(item.path, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            std::error_code ignored;
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
            }
        }
        std::error_code ignored;
        if (fs::is_directory(fs::symlink_status(item.path, ignored))) {
            fs::permissions(item.path, fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(item.path, ignored);
    }
    auto held = heldScratch_.find(item.path);
    if (held != heldScratch_.end()) {
        ::close(held->second);
        heldScratch_.erase(held);
    }
}

UpdateRecoveryResult<void> SystemUpdateRecoveryHost::write(const Bytes& bytes,
                                                           const FileURL& file) {
    FileURL parent = file.deletingLastPathComponent();
    if (!parent.path.empty()) {
        std::error_code error;
        std::filesystem::create_directories(parent.path, error);
        if (error)
            return unexpected(
                UpdateRecoveryHostError::fileSystem(error.value(), "mkdir " + parent.path));
    }
    auto replaced = replaceFileAtomically(file, textOf(bytes));
    if (replaced)
        return {};
    const AtomicFileError& failure = replaced.error();
    switch (failure.step) {
    case AtomicFileError::Step::create:
        return unexpected(
            UpdateRecoveryHostError::fileSystem(failure.code, "create " + failure.staged.path));
    case AtomicFileError::Step::write:
    case AtomicFileError::Step::chmod:
    case AtomicFileError::Step::sync:
        return unexpected(
            UpdateRecoveryHostError::fileSystem(failure.code, "write " + failure.staged.path));
    case AtomicFileError::Step::close:
    case AtomicFileError::Step::rename:
        break;
    }
    return unexpected(UpdateRecoveryHostError::fileSystem(failure.code, "replace " + file.path));
}

} // namespace quorvel

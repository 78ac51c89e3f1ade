#include "base/AtomicFile.h"
#include "base/SmallFile.h"
#include "base/Uuid.h"
#include "platform/BundleInfo.h"
#include "update/SystemUpdateRecoveryHost.h"
#include "update/UpdateCommand.h"
#include "update/UpdateRecovery.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// A path as a command argument that cannot be mistaken for an option.
std::string argumentPath(const FileURL& url) {
    return !url.path.empty() && url.path.front() == '-' ? "./" + url.path : url.path;
}

} // namespace

std::shared_ptr<UpdateRecoveryHost> makeSystemUpdateRecoveryHost() {
    return std::make_shared<SystemUpdateRecoveryHost>();
}

std::optional<FileURL> SystemUpdateRecoveryHost::locateCodesignTool() {
    const char* path = std::getenv("PATH");
    return locateCodesignTool(currentExecutableURL().deletingLastPathComponent(), path ? path : "");
}

std::optional<FileURL> SystemUpdateRecoveryHost::locateCodesignTool(const FileURL& executableFolder,
                                                                    std::string_view directories) {
    FileURL beside = executableFolder.appendingPathComponent(codesignToolName);
    if (beside.isAbsolute() && isExecutableFile(beside.path))
        return beside;
    std::size_t start = 0;
    while (start <= directories.size()) {
        auto end = directories.find(':', start);
        if (end == std::string_view::npos)
            end = directories.size();
        std::string_view directory = directories.substr(start, end - start);
        // Relative entries would make the check depend on the working directory: skipped.
        if (!directory.empty() && directory.front() == '/') {
            FileURL candidate =
                FileURL::fromPath(std::string(directory)).appendingPathComponent(codesignToolName);
            if (isExecutableFile(candidate.path))
                return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
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
    auto tool = options_.codesignTool ? options_.codesignTool : locateCodesignTool();
    if (!tool)
        return UpdateBundleCondition::unverified;
    std::vector<std::string> arguments{"verify", "--deep", "--strict"};
    arguments.insert(arguments.end(), options_.verifyOptions.begin(), options_.verifyOptions.end());
    arguments.push_back(argumentPath(bundle));
    return runUpdateCommand(*tool, arguments, options_.commandTimeLimit).succeeded()
               ? UpdateBundleCondition::verified
               : UpdateBundleCondition::unverified;
}

UpdateRecoveryResult<FileURL>
SystemUpdateRecoveryHost::makeScratchDirectory(const FileURL& bundle) {
    FileURL scratch = bundle.deletingLastPathComponent().appendingPathComponent(
        "." + bundle.lastPathComponent() + ".restore." + randomUuidString());
    if (::mkdir(scratch.path.c_str(), 0777) != 0) {
        return unexpected(UpdateRecoveryHostError::fileSystem(errno, "mkdir " + scratch.path));
    }
    return scratch;
}

UpdateRecoveryResult<std::vector<FileURL>>
SystemUpdateRecoveryHost::extractArchive(const FileURL& archive, const FileURL& directory) {
    auto result = runUpdateCommand(
        options_.archiveTool, {"-x", "-f", argumentPath(archive), "-C", argumentPath(directory)},
        options_.commandTimeLimit);
    if (!result.succeeded()) {
        return unexpected(UpdateRecoveryHostError{UpdateRecoveryHostError::Kind::corruptArchive,
                                                  std::make_error_code(std::errc::io_error),
                                                  "cannot unpack " + archive.path});
    }
    DIR* listing = ::opendir(directory.path.c_str());
    if (!listing)
        return unexpected(UpdateRecoveryHostError::fileSystem(errno, "opendir " + directory.path));
    std::vector<std::string> names;
    errno = 0;
    while (dirent* entry = ::readdir(listing)) {
        if (entry->d_name[0] == '.')
            continue; // hidden entries, "." and ".." included
        names.emplace_back(entry->d_name);
    }
    int listingError = errno;
    ::closedir(listing);
    if (listingError != 0) {
        return unexpected(
            UpdateRecoveryHostError::fileSystem(listingError, "readdir " + directory.path));
    }
    std::sort(names.begin(), names.end());
    std::vector<FileURL> entries;
    for (const auto& name : names)
        entries.push_back(directory.appendingPathComponent(name));
    return entries;
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

void SystemUpdateRecoveryHost::removeItem(const FileURL& item) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::remove_all(item.path, error);
    if (!error)
        return;
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

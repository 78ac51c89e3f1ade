#include "base/AtomicFile.h"

#include "base/Uuid.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // A write that makes no progress would loop forever.
            if (written == 0)
                errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

FileURL stagedFileURL(const FileURL& file) {
    return file.deletingLastPathComponent().appendingPathComponent("." + file.lastPathComponent() +
                                                                   ".staged." + randomUuidString());
}

Expected<void, AtomicFileError> replaceFileAtomically(const FileURL& file, std::string_view bytes,
                                                      AtomicFileOptions options) {
    const FileURL staged = stagedFileURL(file);
    int fd = ::open(staged.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    options.mode);
    if (fd < 0)
        return unexpected(AtomicFileError{AtomicFileError::Step::create, errno, staged});

    using Step = AtomicFileError::Step;
    std::optional<Step> failed;
    if (!writeAll(fd, bytes))
        failed = Step::write;
    else if (options.exactMode && ::fchmod(fd, options.mode) != 0)
        failed = Step::chmod;
    else if (::fsync(fd) != 0)
        failed = Step::sync;
    int code = failed ? errno : 0;
    if (::close(fd) != 0 && !failed) {
        failed = Step::close;
        code = errno;
    }
    if (!failed && ::rename(staged.path.c_str(), file.path.c_str()) != 0) {
        failed = Step::rename;
        code = errno;
    }
    if (failed) {
        ::unlink(staged.path.c_str());
        return unexpected(AtomicFileError{*failed, code, staged});
    }

    if (options.syncFolder) {
        FileURL folder = file.deletingLastPathComponent();
        int directory = ::open(folder.path.empty() ? "." : folder.path.c_str(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (directory >= 0) {
            ::fsync(directory);
            ::close(directory);
        }
    }
    return {};
}

} // namespace quorvel

#include "base/SmallFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

std::optional<SmallFile> readSmallRegularFile(const FileURL& url, std::size_t maximumSize,
                                              FinalLink link) {
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (link == FinalLink::refuse)
        flags |= O_NOFOLLOW;
    int fd = ::open(url.path.c_str(), flags);
    if (fd < 0)
        return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::size_t>(status.st_size) > maximumSize) {
        return std::nullopt;
    }
    SmallFile file;
    file.device = status.st_dev;
    file.inode = status.st_ino;
    file.contents.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[16384];
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (count == 0)
            break;
        file.contents.append(buffer, static_cast<std::size_t>(count));
        // The file grew while it was read.
        if (file.contents.size() > maximumSize)
            return std::nullopt;
    }
    return file;
}

} // namespace quorvel

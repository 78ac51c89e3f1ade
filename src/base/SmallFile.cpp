#include "base/SmallFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
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
    // Read straight into the string, sized for the file and a byte more, so that the end shows
    // without another round: a buffer on the stack would leave its pages with a long-running
    // process. Files that report no size (those of /proc) grow it as they are read.
    std::size_t limit = maximumSize < SIZE_MAX ? maximumSize + 1 : maximumSize;
    std::size_t expected = std::min(static_cast<std::size_t>(status.st_size), maximumSize) + 1;
    std::string& contents = file.contents;
    contents.resize(std::max(expected, std::min<std::size_t>(256, limit)));
    std::size_t used = 0;
    for (;;) {
        if (used == contents.size())
            contents.resize(std::min(contents.size() * 2, limit));
        ssize_t count = ::read(fd, contents.data() + used, contents.size() - used);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (count == 0)
            break;
        used += static_cast<std::size_t>(count);
        // The file grew while it was read.
        if (used > maximumSize)
            return std::nullopt;
    }
    contents.resize(used);
    return file;
}

} // namespace quorvel

#include "platform/BundleInfo.h"

#include <limits.h>
#include <unistd.h>

namespace quorvel {

FileURL currentExecutableURL() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return FileURL{};
    return FileURL{std::string(buffer, static_cast<std::size_t>(length))};
}

} // namespace quorvel

#include "platform/ApplicationSupport.h"

#include <cstdlib>
#include <string>

namespace quorvel {

std::optional<FileURL> userApplicationSupportDirectory() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') {
        return FileURL{dataHome}.standardized();
    }
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        return FileURL{home}.standardized().appendingPathComponent(".local/share");
    }
    return std::nullopt;
}

std::optional<FileURL> quorvelApplicationSupportFolder() {
    auto directory = userApplicationSupportDirectory();
    if (!directory)
        return std::nullopt;
    return directory->appendingPathComponent(hostBundleIdentifier);
}

} // namespace quorvel

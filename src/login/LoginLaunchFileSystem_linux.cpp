#include "base/AtomicFile.h"
#include "login/LoginLaunchFileSystem.h"

#include <cerrno>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

class SystemLoginLaunchFileSystem : public LoginLaunchFileSystem {
public:
    bool createDirectory(const FileURL& directory) override {
        // Folders made for the user's data are private to the user, as XDG asks.
        if (g_mkdir_with_parents(directory.path.c_str(), 0700) != 0)
            return false;
        struct stat info {};
        return ::stat(directory.path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }

    bool writeAtomically(const FileURL& file, std::string_view bytes) override {
        return replaceFileAtomically(file, bytes).hasValue();
    }

    bool removeItem(const FileURL& file) override { return ::unlink(file.path.c_str()) == 0; }
};

} // namespace

std::shared_ptr<LoginLaunchFileSystem> makeSystemLoginLaunchFileSystem() {
    return std::make_shared<SystemLoginLaunchFileSystem>();
}

} // namespace quorvel

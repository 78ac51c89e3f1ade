#include "shell/SymbolicIconFolder_linux.h"

#include "base/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <glib.h>
#include <set>
#include <unistd.h>

namespace quorvel {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view prefix = "tray-icons-";
std::atomic<int> folderCounter{0};

// Folders named for a process that no longer exists; a reused pid only delays the sweep.
void removeFoldersOfEndedProcesses(const fs::path& parent) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(parent, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0)
            continue;
        const auto pid = std::atol(name.c_str() + prefix.size());
        if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 &&
            errno == ESRCH) {
            fs::remove_all(entry.path(), error);
        }
    }
}

} // namespace

std::unique_ptr<SymbolicIconFolder> SymbolicIconFolder::create() {
    const fs::path parent = fs::path(g_get_user_runtime_dir()) / "com.quorvel.desktop";
    std::error_code error;
    fs::create_directories(parent, error);
    if (error)
        return nullptr;
    fs::permissions(parent, fs::perms::owner_all, fs::perm_options::replace, error);
    removeFoldersOfEndedProcesses(parent);
    const fs::path root = parent / (std::string(prefix) + std::to_string(::getpid()) + "-" +
                                    std::to_string(++folderCounter));
    const fs::path status = root / "icons/hicolor/scalable/status";
    fs::remove_all(root, error);
    fs::create_directories(status, error);
    if (error)
        return nullptr;
    return std::unique_ptr<SymbolicIconFolder>(
        new SymbolicIconFolder(root.string(), (root / "icons").string()));
}

SymbolicIconFolder::SymbolicIconFolder(std::string root, std::string themePath)
    : root_(std::move(root)), themePath_(std::move(themePath)) {}

SymbolicIconFolder::~SymbolicIconFolder() {
    std::error_code error;
    fs::remove_all(root_, error);
}

bool SymbolicIconFolder::publish(const SymbolicStatusIconSet& set) {
    const fs::path status = fs::path(themePath_) / "hicolor/scalable/status";
    std::set<std::string> current;
    for (const auto& entry : set.entries) {
        const std::string file = entry.icon.name + ".svg";
        if (!current.insert(file).second)
            continue;
        AtomicFileOptions options;
        options.mode = 0600;
        options.syncFolder = false; // a runtime folder: nothing to bring back after a power loss
        if (!replaceFileAtomically(FileURL::fromPath((status / file).string()), entry.icon.svg,
                                   options)) {
            return false;
        }
    }
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(status, error)) {
        if (!current.count(entry.path().filename().string()))
            fs::remove(entry.path(), error);
    }
    return true;
}

} // namespace quorvel

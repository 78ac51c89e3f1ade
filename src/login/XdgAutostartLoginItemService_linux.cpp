#include "base/SmallFile.h"
#include "login/AutostartEntry.h"
#include "login/LoginLaunchFileSystem.h"
#include "login/XdgAutostartLoginItemService.h"
#include "platform/BundleInfo.h"

#include <cerrno>
#include <cstdlib>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

constexpr const char* launcherBundleInHost = "Contents/Library/LoginItems/QuorvelLauncher.app";
constexpr const char* launcherExecutableInBundle = "Contents/MacOS/QuorvelLauncher";
// Desktop entries are small; anything larger is not ours.
constexpr std::size_t maximumEntrySize = 64 * 1024;

bool isExecutableFile(const FileURL& file) {
    struct stat info {};
    return ::stat(file.path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(file.path.c_str(), X_OK) == 0;
}

bool sameDesktop(const std::string& a, std::string_view b) {
    return g_ascii_strcasecmp(a.c_str(), std::string(b).c_str()) == 0;
}

bool spawnTool(const std::vector<std::string>& command) {
    gchar* program = g_find_program_in_path(command.front().c_str());
    if (!program)
        return false;
    std::vector<gchar*> argv;
    argv.push_back(program);
    for (std::size_t i = 1; i < command.size(); ++i)
        argv.push_back(const_cast<gchar*>(command[i].c_str()));
    argv.push_back(nullptr);
    // Without G_SPAWN_DO_NOT_REAP_CHILD GLib starts the tool through an intermediate child, so it
    // never becomes a zombie of the host app.
    gboolean started = g_spawn_async(
        nullptr, argv.data(), nullptr,
        static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
        nullptr, nullptr, nullptr);
    g_free(program);
    return started != FALSE;
}

std::vector<std::string> splitDesktops(const char* value) {
    std::vector<std::string> desktops;
    if (!value)
        return desktops;
    gchar** parts = g_strsplit(value, ":", -1);
    for (gchar** part = parts; *part; ++part) {
        if (**part)
            desktops.emplace_back(*part);
    }
    g_strfreev(parts);
    return desktops;
}

} // namespace

XdgAutostartLoginItemService::XdgAutostartLoginItemService(Configuration configuration)
    : configuration_(std::move(configuration)) {}

std::optional<FileURL> XdgAutostartLoginItemService::entryURL() const {
    if (!configuration_.autostartDirectory)
        return std::nullopt;
    return configuration_.autostartDirectory->appendingPathComponent(configuration_.identifier +
                                                                     ".desktop");
}

std::optional<FileURL> XdgAutostartLoginItemService::launcherExecutable() const {
    std::optional<FileURL> executable;
    if (auto bundle = readBundle(configuration_.launcherBundleURL))
        executable = bundle->executableURL();
    if (!executable)
        executable =
            configuration_.launcherBundleURL.appendingPathComponent(launcherExecutableInBundle);
    if (!isExecutableFile(*executable))
        return std::nullopt;
    return executable;
}

std::optional<AutostartEntry> XdgAutostartLoginItemService::readEntry() const {
    auto entry = entryURL();
    if (!entry)
        return std::nullopt;
    auto file = readSmallRegularFile(*entry, maximumEntrySize);
    if (!file)
        return std::nullopt;
    return parseAutostartEntry(file->contents);
}

LoginItemStatus XdgAutostartLoginItemService::status() {
    auto launcher = launcherExecutable();
    if (!launcher)
        return LoginItemStatus::notFound;
    auto parsed = readEntry();
    if (!parsed)
        return LoginItemStatus::notRegistered;
    if (parsed->disabled)
        return LoginItemStatus::requiresApproval;
    if (parsed->command != std::vector<std::string>{launcher->path})
        return LoginItemStatus::notRegistered;
    return LoginItemStatus::enabled;
}

bool XdgAutostartLoginItemService::registerItem() {
    auto launcher = launcherExecutable();
    auto entry = entryURL();
    if (!launcher || !entry)
        return false;
    // The autostart folder is private to the user, as XDG asks of new configuration folders.
    if (g_mkdir_with_parents(configuration_.autostartDirectory->path.c_str(), 0700) != 0)
        return false;
    std::string text = makeAutostartEntryText(*launcher, "Quorvel",
                                              "Starts Quorvel at login and keeps it running");
    return makeSystemLoginLaunchFileSystem()->writeAtomically(*entry, text);
}

bool XdgAutostartLoginItemService::unregisterItem() {
    auto entry = entryURL();
    if (!entry)
        return false;
    // The user's "off" is theirs, not part of our registration: the entry stays, switched off, so
    // that registering again after maintenance finds it off and leaves it so. Deleting it would
    // make the next registration a fresh entry that starts at login. Switched off, it starts
    // nothing in the meantime.
    if (auto parsed = readEntry(); parsed && parsed->disabled)
        return true;
    return ::unlink(entry->path.c_str()) == 0 || errno == ENOENT;
}

std::vector<std::vector<std::string>>
XdgAutostartLoginItemService::settingsTools(const std::vector<std::string>& desktops) {
    std::vector<std::vector<std::string>> tools;
    for (const auto& desktop : desktops) {
        if (sameDesktop(desktop, "KDE")) {
            tools.push_back({"systemsettings", "kcm_autostart"});
            tools.push_back({"kcmshell6", "kcm_autostart"});
            tools.push_back({"kcmshell5", "kcm_autostart"});
        } else if (sameDesktop(desktop, "XFCE")) {
            tools.push_back({"xfce4-session-settings"});
        } else if (sameDesktop(desktop, "GNOME") || sameDesktop(desktop, "Unity") ||
                   sameDesktop(desktop, "ubuntu")) {
            tools.push_back({"gnome-session-properties"});
            tools.push_back({"gnome-tweaks"});
        } else if (sameDesktop(desktop, "MATE")) {
            tools.push_back({"mate-session-properties"});
        } else if (sameDesktop(desktop, "X-Cinnamon") || sameDesktop(desktop, "Cinnamon")) {
            tools.push_back({"cinnamon-settings", "startup"});
        } else if (sameDesktop(desktop, "LXQt")) {
            tools.push_back({"lxqt-config-session"});
        }
    }
    return tools;
}

void XdgAutostartLoginItemService::openSettings() {
    for (const auto& tool : settingsTools(configuration_.currentDesktops)) {
        if (spawnTool(tool))
            return;
    }
    if (!configuration_.autostartDirectory)
        return;
    const std::string& folder = configuration_.autostartDirectory->path;
    // Show the folder even before anything was registered in it.
    g_mkdir_with_parents(folder.c_str(), 0700);
    gchar* uri = g_filename_to_uri(folder.c_str(), nullptr, nullptr);
    if (!uri)
        return;
    g_app_info_launch_default_for_uri(uri, nullptr, nullptr);
    g_free(uri);
}

std::optional<FileURL> userAutostartDirectory() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && configHome[0] == '/') {
        return FileURL{configHome}.standardized().appendingPathComponent("autostart");
    }
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        return FileURL{home}.standardized().appendingPathComponent(".config/autostart");
    }
    return std::nullopt;
}

LoginItemServiceFactory makeSystemLoginItemServiceFactory() {
    return [](std::string_view identifier) -> std::shared_ptr<LoginItemService> {
        XdgAutostartLoginItemService::Configuration configuration;
        configuration.identifier = std::string(identifier);
        configuration.autostartDirectory = userAutostartDirectory();
        configuration.launcherBundleURL =
            mainBundleURL().appendingPathComponent(launcherBundleInHost);
        configuration.currentDesktops = splitDesktops(std::getenv("XDG_CURRENT_DESKTOP"));
        return std::make_shared<XdgAutostartLoginItemService>(std::move(configuration));
    };
}

} // namespace quorvel

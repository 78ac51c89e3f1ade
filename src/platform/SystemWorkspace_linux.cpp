#include "base/Logger.h"
#include "platform/ApplicationLaunchLock.h"
#include "platform/ApplicationSupport.h"
#include "platform/ProcessStat.h"
#include "platform/RunningBundleScan.h"
#include "platform/SystemWorkspace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quorvel {

struct SystemWorkspaceAccess {
    static void exited(SystemWorkspace& workspace, pid_t pid) { workspace.exited(pid); }
};

struct SystemWorkspace::Observer {
    std::function<void(const RunningApplication&)> handler;
};

struct SystemWorkspace::Watch {
    int pidfd = -1;
    GSource* source = nullptr;
    RunningApplication application;

    ~Watch() {
        if (source) {
            g_source_destroy(source);
            g_source_unref(source);
        }
        if (pidfd >= 0)
            ::close(pidfd);
    }
};

namespace {

class ObserverToken : public Observation {
public:
    explicit ObserverToken(std::shared_ptr<void> observer) : observer_(std::move(observer)) {}

private:
    std::shared_ptr<void> observer_;
};

gboolean onPidfdReadable(gint, GIOCondition, gpointer data);

struct WatchContext {
    std::weak_ptr<SystemWorkspace> workspace;
    pid_t pid;
};

} // namespace

std::shared_ptr<SystemWorkspace> SystemWorkspace::create() {
    return std::shared_ptr<SystemWorkspace>(new SystemWorkspace());
}

SystemWorkspace::~SystemWorkspace() = default;

std::vector<RunningApplication>
SystemWorkspace::runningApplications(std::string_view bundleIdentifier) {
    auto result = scan_.runningApplications(bundleIdentifier);
    if (scan_.procRoot() == "/proc") {
        for (const auto& application : result)
            watch(application, false);
    }
    return result;
}

void SystemWorkspace::watch(const RunningApplication& application, bool ownChild) {
    pid_t pid = application.processIdentifier;
    if (auto found = watches_.find(pid); found != watches_.end()) {
        found->second->application = application;
        return;
    }
    // Through the system call: the C library's own wrapper is declared without C linkage in some
    // releases (glibc 2.36) and cannot be linked from C++ there.
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        return; // gone already; the next health check notices
    // The pid may have been reused between the scan and the open: the process behind the pidfd
    // must still run the executable that was reported. A child of ours keeps its pid until we reap
    // it, and one that already exited (a zombie has no executable link) must still be watched, or
    // it would never be reaped nor reported.
    if (!ownChild && application.executableURL &&
        readExecutableLink(scan_.procRoot(), pid) != application.executableURL->path) {
        ::close(pidfd);
        return;
    }
    auto watch = std::make_unique<Watch>();
    watch->pidfd = pidfd;
    watch->application = application;
    watch->source = g_unix_fd_source_new(pidfd, G_IO_IN);
    g_source_set_callback(watch->source, G_SOURCE_FUNC(onPidfdReadable),
                          new WatchContext{weak_from_this(), pid},
                          [](gpointer data) { delete static_cast<WatchContext*>(data); });
    g_source_attach(watch->source, nullptr);
    watches_[pid] = std::move(watch);
}

namespace {

gboolean onPidfdReadable(gint, GIOCondition, gpointer data) {
    auto* context = static_cast<WatchContext*>(data);
    pid_t pid = context->pid;
    if (auto workspace = context->workspace.lock()) {
        // exited() destroys this very source; GLib holds it and its data until dispatch returns.
        SystemWorkspaceAccess::exited(*workspace, pid);
    }
    return G_SOURCE_REMOVE;
}

} // namespace

void SystemWorkspace::exited(pid_t pid) {
    auto found = watches_.find(pid);
    if (found == watches_.end())
        return;
    std::unique_ptr<Watch> watch = std::move(found->second);
    watches_.erase(found);
    siginfo_t info{};
    // Reaps our own children; fails harmlessly (ECHILD) for processes we did not start.
    ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(watch->pidfd), &info,
             WEXITED | WNOHANG);
    RunningApplication application = watch->application;
    watch.reset();
    std::vector<std::shared_ptr<Observer>> live;
    for (auto& weak : observers_) {
        if (auto observer = weak.lock())
            live.push_back(std::move(observer));
    }
    std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
    for (const auto& observer : live)
        observer->handler(application);
}

namespace {

struct HeldLaunchLock : LaunchExclusion {
    explicit HeldLaunchLock(std::unique_ptr<ApplicationLaunchLock> held) : lock(std::move(held)) {}
    std::unique_ptr<ApplicationLaunchLock> lock;
};

} // namespace

LaunchExclusionHandle SystemWorkspace::excludeOtherLaunches(const FileURL& bundleURL) {
    // flock is per open file: a second lock of the same file in this process would wait for the
    // first forever, so a hold that is alive is handed out again.
    auto& slot = launchExclusions_[bundleURL.standardized().path];
    if (auto held = slot.lock())
        return held;
    int error = 0;
    auto lock = ApplicationLaunchLock::acquire(bundleURL, error);
    if (!lock) {
        Logger(logSubsystem, "LoginLauncher")
            .error("launch_lock result=unavailable errno=%{public}d",
                   {static_cast<std::int64_t>(error)});
        return nullptr;
    }
    auto held = std::make_shared<HeldLaunchLock>(std::move(lock));
    slot = held;
    return held;
}

ObservationHandle
SystemWorkspace::observeTerminations(std::function<void(const RunningApplication&)> handler) {
    auto observer = std::make_shared<Observer>(Observer{std::move(handler)});
    observers_.push_back(observer);
    return std::make_unique<ObserverToken>(observer);
}

void SystemWorkspace::openApplication(const FileURL& bundleURL,
                                      const OpenConfiguration& configuration,
                                      OpenCompletion completion) {
    auto answer = [completion =
                       std::move(completion)](Expected<RunningApplication, WorkspaceError> result) {
        auto* boxed = new std::function<void()>([completion, result] { completion(result); });
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                (*static_cast<std::function<void()>*>(data))();
                return G_SOURCE_REMOVE;
            },
            boxed, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    };

    auto bundle = readBundle(bundleURL);
    if (!bundle || !bundle->identifier || !bundle->executableURL()) {
        answer(unexpected(WorkspaceError{"the application bundle cannot be read"}));
        return;
    }
    FileURL executable = *bundle->executableURL();
    // From now on an exec into this bundle's executable is seen at the next scan.
    scan_.knowBundle(bundleURL);
    // Another process that opens this bundle at the same moment finds our copy running.
    LaunchExclusionHandle exclusion = excludeOtherLaunches(bundleURL);
    for (const auto& running : runningApplications(*bundle->identifier)) {
        if (running.executableURL == executable) {
            answer(running);
            return;
        }
    }

    std::vector<std::string> arguments{executable.path};
    arguments.insert(arguments.end(), configuration.arguments.begin(),
                     configuration.arguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> environment;
    for (char** variable = environ; variable && *variable; ++variable) {
        std::string_view entry(*variable);
        auto equals = entry.find('=');
        if (equals == std::string_view::npos)
            continue;
        environment.emplace(std::string(entry.substr(0, equals)),
                            std::string(entry.substr(equals + 1)));
    }
    if (configuration.environment) {
        for (const auto& [key, value] : *configuration.environment)
            environment[key] = value;
    }
    std::vector<std::string> environmentEntries;
    for (const auto& [key, value] : environment)
        environmentEntries.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : environmentEntries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t allSignals;
    sigfillset(&allSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &allSignals);
    // A session of its own: the host app outlives the launcher and is not hit by signals sent to
    // the launcher's process group.
    posix_spawnattr_setflags(
        &attributes,
        static_cast<short>(POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    pid_t pid = 0;
    int status = ::posix_spawn(&pid, executable.path.c_str(), nullptr, &attributes, argv.data(),
                               envp.data());
    posix_spawnattr_destroy(&attributes);
    if (status != 0) {
        answer(unexpected(WorkspaceError{std::string("spawn failed: ") + std::strerror(status)}));
        return;
    }
    RunningApplication application{bundle->identifier, pid, executable};
    // Our child keeps its pid until we reap it, so this is its own start time.
    if (auto stat = readProcessStat("/proc", pid))
        application.startTime = stat->startTime;
    watch(application, true);
    answer(application);
}

} // namespace quorvel

#include "update/UpdateCommand.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quorvel {

namespace {

int decodeWaitStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// Waits for the child to become waitable, up to the deadline; true when it has exited.
bool waitForExit(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    // Through syscall(): this glibc's <sys/pidfd.h> declares pidfd_open without C linkage for C++.
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        bool exited = false;
        for (;;) {
            auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (remaining.count() < 0)
                remaining = std::chrono::milliseconds(0);
            pollfd entry{pidfd, POLLIN, 0};
            int ready =
                ::poll(&entry, 1, static_cast<int>(std::min<long long>(remaining.count(), 60'000)));
            if (ready > 0) {
                exited = true;
                break;
            }
            if (ready < 0 && errno != EINTR)
                break;
            if (ready == 0 && std::chrono::steady_clock::now() >= deadline)
                break;
        }
        ::close(pidfd);
        return exited;
    }
    // Kernels without pidfd: look now and then without reaping.
    for (;;) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return decodeWaitStatus(status);
}

} // namespace

UpdateCommandResult runUpdateCommand(const FileURL& executable,
                                     const std::vector<std::string>& arguments,
                                     std::chrono::milliseconds limit) {
    if (!executable.isAbsolute())
        return {};

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Its own process group, so that a timeout ends whatever the command started as well; default
    // signal handling and an empty mask, whatever the launcher set up for itself.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal :
         {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
        sigaddset(&defaults, signal);
    }
    sigset_t emptyMask;
    sigemptyset(&emptyMask);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &emptyMask);
    posix_spawnattr_setflags(
        &attributes,
        static_cast<short>(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));

    std::vector<std::string> argv;
    argv.reserve(arguments.size() + 1);
    argv.push_back(executable.path);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    auto deadline = std::chrono::steady_clock::now() + limit;
    pid_t pid = -1;
    int spawned = ::posix_spawn(&pid, executable.path.c_str(), &actions, &attributes,
                                pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        return {};

    if (waitForExit(pid, deadline)) {
        return {UpdateCommandResult::Status::exited, reap(pid)};
    }
    // Not reaped yet, so neither the pid nor the group id can have been reused.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    reap(pid);
    return {UpdateCommandResult::Status::timedOut, -1};
}

} // namespace quorvel

#include "update/UpdateCommand.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quorvel {

namespace {

// A line longer than this is not output a reader expects: the command is stopped.
constexpr std::size_t longestLine = 1024 * 1024;

int decodeWaitStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

int remainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(remaining.count(), 0, 60'000));
}

// Waits for the child to become waitable, up to the deadline; true when it has exited.
bool waitForExit(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    // Through syscall(): this glibc's <sys/pidfd.h> declares pidfd_open without C linkage for C++.
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        bool exited = false;
        for (;;) {
            pollfd entry{pidfd, POLLIN, 0};
            int ready = ::poll(&entry, 1, remainingMilliseconds(deadline));
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

enum class Reading { finished, stopped, timedOut };

// Hands the pipe's lines to the reader until the command closes its output.
Reading readLines(int fd, const UpdateCommandLineReader& readLine,
                  std::chrono::steady_clock::time_point deadline) {
    std::string pending;
    // Small: the launcher keeps whatever stack depth it once touched for the rest of its life.
    char buffer[4096];
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, remainingMilliseconds(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Reading::stopped;
        if (ready == 0) {
            if (std::chrono::steady_clock::now() >= deadline)
                return Reading::timedOut;
            continue;
        }
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        pending.append(buffer, static_cast<std::size_t>(count));
        std::size_t start = 0;
        for (auto end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n', start)) {
            if (!readLine(std::string_view(pending).substr(start, end - start)))
                return Reading::stopped;
            start = end + 1;
        }
        pending.erase(0, start);
        if (pending.size() > longestLine)
            return Reading::stopped;
    }
    if (!pending.empty() && !readLine(pending))
        return Reading::stopped;
    return Reading::finished;
}

// The child's own group, and its end with the launcher, also when the launcher is killed
// outright. The request holds for the thread that forked us; a parent that is already gone would
// never send it, hence the check.
void bindToParent(pid_t parent) {
    ::setpgid(0, 0);
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) {
        ::_exit(127);
    }
}

// Forks a child in a process group of its own that ends with the launcher; the child runs
// `inChild`, which must not return. The parent sets the group too, so that a kill of the group
// cannot come before the child made it. A negative pid when the fork failed.
template <class Child> pid_t forkBoundChild(Child&& inChild) {
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid == 0) {
        bindToParent(parent);
        inChild();
        ::_exit(127);
    }
    if (pid > 0)
        ::setpgid(pid, pid);
    return pid;
}

// Only async-signal-safe calls from here on: the caller may have other threads.
[[noreturn]] void execChild(int input, int output, int errors, int status, const char* path,
                            char* const* argv) {
    if (::dup2(input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
        ::dup2(errors, STDERR_FILENO) < 0) {
        int error = errno;
        (void)!::write(status, &error, sizeof error);
        ::_exit(127);
    }
    // Default signal handling and an empty mask, whatever the launcher set up for itself.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal :
         {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
        ::sigaction(signal, &defaults, nullptr);
    }
    sigset_t empty;
    sigemptyset(&empty);
    ::sigprocmask(SIG_SETMASK, &empty, nullptr);
    ::execve(path, argv, environ);
    int error = errno;
    (void)!::write(status, &error, sizeof error);
    ::_exit(127);
}

// Not reaped yet, so neither the pid nor the group id can have been reused.
void killGroup(pid_t pid) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    reap(pid);
}

struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int value) : fd(value) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    void reset() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

} // namespace

UpdateCommandResult runUpdateCommand(const FileURL& executable,
                                     const std::vector<std::string>& arguments,
                                     std::chrono::milliseconds limit,
                                     const UpdateCommandLineReader& readLine) {
    if (!executable.isAbsolute())
        return {};

    std::vector<std::string> argv;
    argv.reserve(arguments.size() + 1);
    argv.push_back(executable.path);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    Descriptor input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    Descriptor discard(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    int outputPipe[2] = {-1, -1};
    int statusPipe[2] = {-1, -1};
    if (input.fd < 0 || discard.fd < 0 || ::pipe2(statusPipe, O_CLOEXEC) != 0)
        return {};
    Descriptor statusRead(statusPipe[0]), statusWrite(statusPipe[1]);
    if (readLine && ::pipe2(outputPipe, O_CLOEXEC) != 0)
        return {};
    Descriptor outputRead(outputPipe[0]), outputWrite(outputPipe[1]);

    auto deadline = std::chrono::steady_clock::now() + limit;
    pid_t pid = forkBoundChild([&] {
        execChild(input.fd, readLine ? outputWrite.fd : discard.fd, discard.fd, statusWrite.fd,
                  executable.path.c_str(), pointers.data());
    });
    if (pid < 0)
        return {};
    statusWrite.reset();
    outputWrite.reset();

    int startError = 0;
    ssize_t reported = -1;
    do {
        reported = ::read(statusRead.fd, &startError, sizeof startError);
    } while (reported < 0 && errno == EINTR);
    if (reported > 0) {
        reap(pid);
        return {};
    }

    Reading reading = Reading::finished;
    if (readLine) {
        reading = readLines(outputRead.fd, readLine, deadline);
        outputRead.reset();
    }
    if (reading == Reading::finished && waitForExit(pid, deadline)) {
        return {UpdateCommandResult::Status::exited, reap(pid)};
    }
    killGroup(pid);
    return {reading == Reading::stopped ? UpdateCommandResult::Status::stopped
                                        : UpdateCommandResult::Status::timedOut,
            -1};
}

UpdateCommandResult runInChildProcess(const std::function<int()>& body,
                                      std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    pid_t pid = forkBoundChild([&] {
        // Unlike a command, the child runs our own code: glibc's fork leaves its allocator and
        // its dynamic loader usable in the child of a threaded parent, and the body keeps to them
        // and to the file system. If it hangs all the same, the time limit ends it.
        int status = 125;
        try {
            status = std::clamp(body(), 0, 125);
        } catch (...) {
        }
        ::_exit(status);
    });
    if (pid < 0)
        return {};
    if (waitForExit(pid, deadline))
        return {UpdateCommandResult::Status::exited, reap(pid)};
    killGroup(pid);
    return {UpdateCommandResult::Status::timedOut, -1};
}

} // namespace quorvel

#include "support/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quorvel::test {

namespace {

int decode(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

StartGate::StartGate() {
    if (::pipe2(fds_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
}

StartGate::~StartGate() {
    release();
    ::close(fds_[0]);
}

void StartGate::release() {
    if (fds_[1] >= 0)
        ::close(fds_[1]);
    fds_[1] = -1;
}

void StartGate::waitInChild() const {
    ::close(fds_[1]);
    char byte;
    while (::read(fds_[0], &byte, 1) < 0 && errno == EINTR) {
    }
}

ChildProcess::ChildProcess(std::vector<std::string> argv, Options options)
    : ownGroup_(options.newSession) {
    int inputPipe[2] = {-1, -1};
    if (options.inputText && ::pipe2(inputPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        if (options.newSession)
            ::setsid();
        for (const auto& [key, value] : options.environment)
            ::setenv(key.c_str(), value.c_str(), 1);
        if (options.outputFile) {
            int fd = ::open(options.outputFile->c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) {
                ::dup2(fd, STDOUT_FILENO);
                ::dup2(fd, STDERR_FILENO);
                ::close(fd);
            }
        }
        if (options.inputText) {
            ::dup2(inputPipe[0], STDIN_FILENO);
        } else {
            int devnull = ::open("/dev/null", O_RDONLY);
            ::dup2(devnull, STDIN_FILENO);
        }
        if (options.gate)
            options.gate->waitInChild();
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::_Exit(127);
    }
    if (options.inputText) {
        ::close(inputPipe[0]);
        [[maybe_unused]] auto n =
            ::write(inputPipe[1], options.inputText->data(), options.inputText->size());
        ::close(inputPipe[1]);
    }
}

ChildProcess::~ChildProcess() {
    terminate();
}

bool ChildProcess::running() {
    if (status_)
        return false;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = decode(status);
        return false;
    }
    return done == 0;
}

std::optional<int> ChildProcess::wait(double timeoutSeconds) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

void ChildProcess::signal(int signalNumber) {
    if (!status_)
        ::kill(pid_, signalNumber);
}

void ChildProcess::terminate() {
    if (pid_ <= 0)
        return;
    if (ownGroup_) {
        ::kill(-pid_, SIGTERM); // the whole group: helpers it started end too
    }
    if (running()) {
        ::kill(pid_, SIGTERM);
        if (!wait(2.0)) {
            if (ownGroup_)
                ::kill(-pid_, SIGKILL);
            ::kill(pid_, SIGKILL);
            wait(5.0);
        }
    }
}

CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment,
                         const std::optional<std::string>& input) {
    char path[] = "/tmp/quorvel-command-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    ::close(fd);
    CommandResult result;
    {
        ChildProcess child(argv, {environment, std::string(path), input, false});
        result.status = child.wait(300.0).value_or(-1);
    }
    FILE* file = std::fopen(path, "rb");
    if (file) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            result.output.append(buffer, n);
        std::fclose(file);
    }
    ::unlink(path);
    return result;
}

} // namespace quorvel::test

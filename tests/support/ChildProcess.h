#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvel::test {

// Holds children back until release(): each waits, just before its exec, for the end of a pipe
// that only the gate keeps open, so that they all start at the same moment.
class StartGate {
public:
    StartGate();
    ~StartGate();
    StartGate(const StartGate&) = delete;
    StartGate& operator=(const StartGate&) = delete;
    void release();
    // In a child: closes the gate's own end and waits until the gate is released.
    void waitInChild() const;

private:
    int fds_[2] = {-1, -1};
};

// A process started by a test and always ended by it: the destructor sends SIGTERM to the whole
// process group, waits briefly, then SIGKILL. Standard output and error may go to a file.
class ChildProcess {
public:
    struct Options {
        std::map<std::string, std::string> environment; // added to the test's own environment
        std::optional<std::string> outputFile;          // stdout and stderr, appended
        std::optional<std::string> inputText;           // written to stdin, then closed
        bool newSession = true;                         // own session and process group
        const StartGate* gate = nullptr;                // waits for its release before exec
    };

    ChildProcess(std::vector<std::string> argv, Options options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the exit; the exit status (or 128 + signal), or nothing on timeout.
    std::optional<int> wait(double timeoutSeconds);
    void signal(int signalNumber);
    void terminate();

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    bool ownGroup_ = true;
};

// Runs a command to its end and returns its exit status and combined output.
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult runCommand(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment = {},
                         const std::optional<std::string>& input = std::nullopt);

} // namespace quorvel::test

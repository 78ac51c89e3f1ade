#pragma once

#include "base/FileURL.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// How a command that update recovery ran ended.
struct UpdateCommandResult {
    enum class Status {
        exited,        // ran to its end; exitStatus holds its exit status (128 + signal if killed)
        failedToStart, // the executable could not be started
        timedOut,      // outlived the limit and was killed, with every process of its group
        stopped,       // the output reader asked to stop; killed like a command out of time
    };
    Status status = Status::failedToStart;
    int exitStatus = -1;

    bool operator==(const UpdateCommandResult&) const = default;
    bool succeeded() const { return status == Status::exited && exitStatus == 0; }
};

// Reads a command's standard output line by line (without the line feed); false stops the command.
using UpdateCommandLineReader = std::function<bool(std::string_view line)>;

// Runs the executable at an absolute path with the given arguments and waits for at most `limit`.
// Standard input and error are the null device, and so is standard output unless `readLine` is
// given. The command runs in a process group of its own, which is killed (SIGKILL) when the limit
// passes, and it is killed as well when the calling thread ends, however it ends (SIGKILL
// included), so that nothing it does outlives the caller. The calling thread blocks meanwhile.
UpdateCommandResult runUpdateCommand(const FileURL& executable,
                                     const std::vector<std::string>& arguments,
                                     std::chrono::milliseconds limit,
                                     const UpdateCommandLineReader& readLine = {});

// Runs `body` in a child process forked from the caller and waits for at most `limit`, with the
// same process group, time limit and end as a command above; the child's exit status is what
// `body` returns (0 to 125), 125 when it throws. For work whose memory and libraries should go
// with it rather than stay with a long-running caller. The child shares nothing with the caller
// afterwards; it must not touch the caller's main loop, bus connections or other threads' state.
UpdateCommandResult runInChildProcess(const std::function<int()>& body,
                                      std::chrono::milliseconds limit);

} // namespace quorvel

#pragma once

#include "base/FileURL.h"

#include <chrono>
#include <string>
#include <vector>

namespace quorvel {

// How a command that update recovery ran ended.
struct UpdateCommandResult {
    enum class Status {
        exited,        // ran to its end; exitStatus holds its exit status (128 + signal if killed)
        failedToStart, // the executable could not be started
        timedOut,      // outlived the limit and was killed, with every process of its group
    };
    Status status = Status::failedToStart;
    int exitStatus = -1;

    bool operator==(const UpdateCommandResult&) const = default;
    bool succeeded() const { return status == Status::exited && exitStatus == 0; }
};

// Runs the executable at an absolute path with the given arguments and waits for at most `limit`.
// Standard input, output and error are the null device; the command runs in a process group of
// its own, which is killed (SIGKILL) when the limit passes. The calling thread blocks meanwhile.
UpdateCommandResult runUpdateCommand(const FileURL& executable,
                                     const std::vector<std::string>& arguments,
                                     std::chrono::milliseconds limit);

} // namespace quorvel

#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

namespace quorvel {

// What the kernel's process table says of one process.
struct ProcessStat {
    char state = '?'; // 'R', 'S', 'Z' (zombie), 'X' (dead), ...
    // When the process started, on the wall clock as it read at this process's first call. It
    // tells two processes that held the same pid apart.
    std::optional<std::chrono::system_clock::time_point> startTime;
    // A thread of the kernel itself: it has no executable and never gets one.
    bool kernelThread = false;

    bool operator==(const ProcessStat&) const = default;
    bool gone() const { return state == 'Z' || state == 'X'; }
};

// Reads <procRoot>/<pid>/stat; nothing when the process does not exist (any more).
std::optional<ProcessStat> readProcessStat(const std::string& procRoot, pid_t pid);

} // namespace quorvel

#include "base/MainLoop.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace quorvel {

// The initial thread of a process is the one whose thread id is the process id.
bool isProcessMainThread() {
    return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}

} // namespace quorvel

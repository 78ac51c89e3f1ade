#include "platform/ProcessStat.h"

#include <charconv>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace quorvel {

namespace {

std::chrono::nanoseconds clockReading(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace

std::optional<ProcessStat> readProcessStat(const std::string& procRoot, pid_t pid) {
    std::string path = procRoot + "/" + std::to_string(pid) + "/stat";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[1024];
    ssize_t length = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (length <= 0)
        return std::nullopt;
    std::string_view stat(buffer, static_cast<std::size_t>(length));
    // The command name may hold spaces and parentheses: the fields follow the last ')'.
    auto close = stat.rfind(')');
    if (close == std::string_view::npos || close + 2 >= stat.size())
        return std::nullopt;
    std::string_view fields = stat.substr(close + 2);
    ProcessStat result;
    result.state = fields[0];

    // Skips to the start of the field `count` spaces after `at`; npos when the line is shorter.
    auto skip = [&fields](std::size_t at, int count) {
        for (int skipped = 0; skipped < count && at != std::string_view::npos; ++skipped) {
            at = fields.find(' ', at);
            if (at != std::string_view::npos)
                ++at;
        }
        return at;
    };
    // The flags are field 9, the 6th after the command name; the kernel marks its own threads.
    constexpr unsigned long kernelThreadFlag = 0x00200000; // PF_KTHREAD
    std::size_t flagsAt = skip(0, 6);
    unsigned long flags = 0;
    if (flagsAt != std::string_view::npos &&
        std::from_chars(fields.data() + flagsAt, fields.data() + fields.size(), flags).ec ==
            std::errc()) {
        result.kernelThread = (flags & kernelThreadFlag) != 0;
    }

    // The start time is field 22 of the line, the 20th after the command name: clock ticks since
    // boot, counted on the boot-time clock (which goes on during suspend).
    std::size_t at = skip(0, 19);
    unsigned long long ticks = 0;
    if (at != std::string_view::npos &&
        std::from_chars(fields.data() + at, fields.data() + fields.size(), ticks).ec ==
            std::errc()) {
        const long hertz = ::sysconf(_SC_CLK_TCK);
        if (hertz > 0) {
            auto sinceBoot =
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(
                    static_cast<double>(ticks) / static_cast<double>(hertz)));
            // Read once: two readings of the two clocks never give quite the same difference,
            // and one process must be given one start time however often it is asked.
            static const auto bootedAt =
                clockReading(CLOCK_REALTIME) - clockReading(CLOCK_BOOTTIME);
            result.startTime = std::chrono::system_clock::time_point(
                std::chrono::duration_cast<std::chrono::system_clock::duration>(bootedAt +
                                                                                sinceBoot));
        }
    }
    return result;
}

} // namespace quorvel

// The system log on Linux: the systemd journal, with the subsystem and the category as fields of
// their own so that `journalctl QUORVEL_CATEGORY=...` finds them.
#include "base/Logger.h"

#include <cerrno>
#include <sys/stat.h>

#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

namespace quorvel {

namespace {

class JournalLogSink : public LogSink {
public:
    void write(const LogRecord& record) override {
        sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=%d",
                        record.level == LogLevel::error ? 3 : 6, "SYSLOG_IDENTIFIER=%s",
                        program_invocation_short_name, "QUORVEL_SUBSYSTEM=%s",
                        record.subsystem.c_str(), "QUORVEL_CATEGORY=%s", record.category.c_str(),
                        nullptr);
    }
};

bool journalReachable() {
    struct stat status {};
    return ::stat("/run/systemd/journal/socket", &status) == 0 && S_ISSOCK(status.st_mode);
}

} // namespace

std::shared_ptr<LogSink> makeSystemLogSink() {
    if (!journalReachable())
        return nullptr;
    return std::make_shared<JournalLogSink>();
}

} // namespace quorvel

// The system log on Linux: the systemd journal, with the subsystem and the category as fields of
// their own so that `journalctl QUORVEL_CATEGORY=...` finds them. The journal's client library is
// loaded with the first log line, not with this library: it and what it pulls in are seven shared
// libraries that a host app would otherwise load before it has logged anything.
#include "base/Logger.h"

#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>

namespace quorvel {

namespace {

// sd_journal_sendv: one "FIELD=value" per entry.
using JournalSend = int (*)(const struct iovec* fields, int count);

class JournalLogSink : public LogSink {
public:
    explicit JournalLogSink(JournalSend send) : send_(send) {}

    void write(const LogRecord& record) override {
        const std::string fields[] = {
            "MESSAGE=" + record.message,
            std::string("PRIORITY=") + (record.level == LogLevel::error ? "3" : "6"),
            std::string("SYSLOG_IDENTIFIER=") + program_invocation_short_name,
            "QUORVEL_SUBSYSTEM=" + record.subsystem,
            "QUORVEL_CATEGORY=" + record.category,
        };
        struct iovec entries[std::size(fields)];
        for (std::size_t i = 0; i < std::size(fields); ++i)
            entries[i] = {const_cast<char*>(fields[i].data()), fields[i].size()};
        send_(entries, static_cast<int>(std::size(entries)));
    }

private:
    JournalSend send_;
};

bool journalReachable() {
    struct stat status {};
    return ::stat("/run/systemd/journal/socket", &status) == 0 && S_ISSOCK(status.st_mode);
}

JournalSend loadJournalSend() {
    void* library = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    return reinterpret_cast<JournalSend>(::dlsym(library, "sd_journal_sendv"));
}

} // namespace

std::shared_ptr<LogSink> makeSystemLogSink() {
    if (!journalReachable())
        return nullptr;
    // Kept for the life of the process: sinks may outlive any one caller.
    static const JournalSend send = loadJournalSend();
    if (!send)
        return nullptr;
    return std::make_shared<JournalLogSink>(send);
}

} // namespace quorvel

#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvel {

enum class LogLevel { info, error };

struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level = LogLevel::info;
    std::string message;

    bool operator==(const LogRecord&) const = default;
};

// Where rendered records go. Implementations must accept records from any thread.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

// One argument of a format string: text for %s, a whole number for %d / %ld / %u, a truth value
// for %{bool}d, a real number for %f.
using LogArgument = std::variant<std::string_view, std::int64_t, bool, double>;

// Renders a format string of the unified-log style: "%{public}s", "%{public}ld",
// "%{bool,public}d" ("true"/"false"), plain "%s", "%d" and "%%". Privacy markers are accepted and
// ignored: every argument of this system is public.
std::string renderLogFormat(std::string_view format, std::initializer_list<LogArgument> arguments);

// A named log channel (subsystem and category). Cheap to copy; sends through the process sink.
class Logger {
public:
    Logger(std::string subsystem, std::string category)
        : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

    void info(std::string_view format, std::initializer_list<LogArgument> arguments = {}) const {
        log(LogLevel::info, format, arguments);
    }
    void error(std::string_view format, std::initializer_list<LogArgument> arguments = {}) const {
        log(LogLevel::error, format, arguments);
    }
    void log(LogLevel level, std::string_view format,
             std::initializer_list<LogArgument> arguments) const;

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

private:
    std::string subsystem_;
    std::string category_;
};

// The process-wide sink. Chosen on first use: standard error when QUORVEL_LOG=stderr or when the
// system log is not reachable, else the system log.
std::shared_ptr<LogSink> currentLogSink();
// Replaces the process-wide sink (tests install a recording sink); returns the previous one.
std::shared_ptr<LogSink> setLogSink(std::shared_ptr<LogSink> sink);

// The platform's own log (on Linux the systemd journal); nothing when it is not reachable.
std::shared_ptr<LogSink> makeSystemLogSink();
std::shared_ptr<LogSink> makeStandardErrorLogSink();

// Keeps every record, for tests and benchmarks.
class RecordingLogSink : public LogSink {
public:
    void write(const LogRecord& record) override;
    std::vector<LogRecord> records() const;
    std::vector<std::string> messages() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

} // namespace quorvel

#include "base/Logger.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace quorvel {

namespace {

void appendArgument(std::string& out, const LogArgument& argument, bool asBool) {
    std::visit(
        [&](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string_view>) {
                out.append(value);
            } else if constexpr (std::is_same_v<T, bool>) {
                out.append(value ? "true" : "false");
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                if (asBool) {
                    out.append(value != 0 ? "true" : "false");
                } else {
                    out.append(std::to_string(value));
                }
            } else {
                char buffer[64];
                std::snprintf(buffer, sizeof buffer, "%g", value);
                out.append(buffer);
            }
        },
        argument);
}

class StandardErrorLogSink : public LogSink {
public:
    void write(const LogRecord& record) override {
        // One write per record keeps lines whole when several threads log.
        std::string line =
            std::string(program_invocation_short_name) + "[" + std::to_string(::getpid()) + "] " +
            record.subsystem + " " + record.category + " " +
            (record.level == LogLevel::error ? "error" : "info") + ": " + record.message + "\n";
        [[maybe_unused]] auto written = ::write(STDERR_FILENO, line.data(), line.size());
    }
};

std::shared_ptr<LogSink> defaultSink() {
    const char* choice = std::getenv("QUORVEL_LOG");
    if (!choice || std::string_view(choice) != "stderr") {
        if (auto system = makeSystemLogSink())
            return system;
    }
    return makeStandardErrorLogSink();
}

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<LogSink>& sinkSlot() {
    static std::shared_ptr<LogSink> sink;
    return sink;
}

} // namespace

std::string renderLogFormat(std::string_view format, std::initializer_list<LogArgument> arguments) {
    std::string out;
    out.reserve(format.size() + 16);
    auto next = arguments.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool asBool = false;
        if (j < format.size() && format[j] == '{') {
            auto close = format.find('}', j);
            if (close == std::string_view::npos) {
                out.append(format.substr(i));
                break;
            }
            std::string_view annotations = format.substr(j + 1, close - j - 1);
            asBool = annotations.find("bool") != std::string_view::npos;
            j = close + 1;
        }
        // Length modifiers, then the conversion character.
        while (j < format.size() && (format[j] == 'l' || format[j] == 'h' || format[j] == 'z' ||
                                     format[j] == 'q' || format[j] == 'j')) {
            ++j;
        }
        if (j >= format.size()) {
            out.append(format.substr(i));
            break;
        }
        if (next != arguments.end()) {
            appendArgument(out, *next, asBool);
            ++next;
        } else {
            out.append("<missing>");
        }
        i = j;
    }
    return out;
}

void Logger::log(LogLevel level, std::string_view format,
                 std::initializer_list<LogArgument> arguments) const {
    LogRecord record{subsystem_, category_, level, renderLogFormat(format, arguments)};
    currentLogSink()->write(record);
}

std::shared_ptr<LogSink> currentLogSink() {
    std::lock_guard lock(sinkMutex());
    auto& sink = sinkSlot();
    if (!sink) {
        sink = defaultSink();
    }
    return sink;
}

std::shared_ptr<LogSink> setLogSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinkMutex());
    auto previous = std::move(sinkSlot());
    sinkSlot() = std::move(sink);
    return previous;
}

std::shared_ptr<LogSink> makeStandardErrorLogSink() {
    return std::make_shared<StandardErrorLogSink>();
}

void RecordingLogSink::write(const LogRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}

std::vector<LogRecord> RecordingLogSink::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> RecordingLogSink::messages() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    result.reserve(records_.size());
    for (const auto& record : records_)
        result.push_back(record.message);
    return result;
}

void RecordingLogSink::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

} // namespace quorvel

#pragma once

#include "base/Logger.h"

#include <memory>
#include <string>
#include <vector>

namespace quorvel::test {

// Installs a recording log sink for the life of the object and puts the previous one back after.
class LogCapture {
public:
    LogCapture() : sink_(std::make_shared<RecordingLogSink>()), previous_(setLogSink(sink_)) {}
    ~LogCapture() { setLogSink(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records() const { return sink_->records(); }
    std::vector<std::string> messages() const { return sink_->messages(); }
    std::size_t count(const std::string& message) const {
        std::size_t n = 0;
        for (const auto& m : messages())
            n += (m == message);
        return n;
    }
    void clear() { sink_->clear(); }

private:
    std::shared_ptr<RecordingLogSink> sink_;
    std::shared_ptr<LogSink> previous_;
};

} // namespace quorvel::test

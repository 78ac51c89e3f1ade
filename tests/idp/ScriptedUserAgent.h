#pragma once

// A user agent driven by the test: it records the authorize URL it was asked to show and what
// the client told it at the end, and can fail to start on request.

#include "idp/WebAuthUserAgent.h"

#include <mutex>
#include <optional>

namespace quorvel::idp::test {

class ScriptedUserAgent final : public WebAuthUserAgent {
public:
    struct Record {
        std::mutex mutex;
        std::string authorizeURL;
        int starts = 0;
        std::optional<WebAuthUserAgentResult> finished;
        bool failToStart = false;
        // Runs in start() with the authorize URL (for example, to fetch it over HTTPS).
        std::function<void(const std::string&)> onStart;
    };

    ScriptedUserAgent(std::shared_ptr<Record> record, std::string url,
                      WebAuthUserAgentCallback completion)
        : record_(std::move(record)), completion_(std::move(completion)) {
        std::lock_guard lock(record_->mutex);
        record_->authorizeURL = std::move(url);
    }

    void start() override {
        bool fail;
        std::function<void(const std::string&)> onStart;
        std::string url;
        {
            std::lock_guard lock(record_->mutex);
            ++record_->starts;
            fail = record_->failToStart;
            onStart = record_->onStart;
            url = record_->authorizeURL;
        }
        if (fail) {
            complete(unexpected(WebAuthError(WebAuthError::Kind::other)));
            return;
        }
        if (onStart)
            onStart(url);
    }

    void finish(WebAuthUserAgentResult result) override {
        {
            std::lock_guard lock(record_->mutex);
            record_->finished = result;
        }
        complete(std::move(result));
    }

    static WebAuthProvider provider(const std::shared_ptr<Record>& record) {
        return [record](const std::string& url, WebAuthUserAgentCallback completion) {
            return std::make_shared<ScriptedUserAgent>(record, url, std::move(completion));
        };
    }

private:
    void complete(WebAuthUserAgentResult result) {
        WebAuthUserAgentCallback completion;
        {
            std::lock_guard lock(mutex_);
            completion = std::move(completion_);
            completion_ = nullptr;
        }
        if (completion)
            completion(std::move(result));
    }

    std::shared_ptr<Record> record_;
    std::mutex mutex_;
    WebAuthUserAgentCallback completion_;
};

} // namespace quorvel::idp::test

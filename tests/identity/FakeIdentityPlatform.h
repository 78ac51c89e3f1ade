#pragma once

// An identity platform driven by the test: it records every URL it is asked to open and answers
// with a scripted result, names a browser redirect setting, hands out the test's session and
// store, and reads a continuous clock the test can move forward.

#include "base/MainLoop.h"
#include "identity/IdentityPlatform.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace quorvel::test {

class FakeIdentityPlatform final : public IdentityPlatform {
public:
    FakeIdentityPlatform(std::shared_ptr<idp::URLSession> session,
                         std::shared_ptr<idp::CredentialsStorage> storage)
        : session_(std::move(session)), storage_(std::move(storage)) {}

    bool openURL(const std::string& url) override {
        std::function<bool(const std::string&)> handler;
        {
            std::lock_guard lock(mutex_);
            opened_.push_back(url);
            handler = onOpen_;
        }
        return handler ? handler(url) : openResult.load();
    }
    std::optional<std::string> browserCallbackSetting() override {
        std::lock_guard lock(mutex_);
        return setting_;
    }
    std::shared_ptr<idp::URLSession> urlSession() override { return session_; }
    std::shared_ptr<idp::CredentialsStorage> credentialStore(const std::string& service) override {
        std::lock_guard lock(mutex_);
        services_.push_back(service);
        return storage_;
    }
    // The main loop's continuous clock, plus whatever the test skipped ahead.
    double continuousTime() override {
        return MainLoop::shared().continuousTime() + skipped_.load();
    }

    // Moves the continuous clock forward without the main loop noticing (a machine that slept).
    void skipClock(double seconds) { skipped_.store(skipped_.load() + seconds); }
    void setBrowserCallbackSetting(std::optional<std::string> value) {
        std::lock_guard lock(mutex_);
        setting_ = std::move(value);
    }
    std::vector<std::string> opened() const {
        std::lock_guard lock(mutex_);
        return opened_;
    }
    std::vector<std::string> services() const {
        std::lock_guard lock(mutex_);
        return services_;
    }

    // A handler that answers openURL instead of openResult (it runs on the main thread).
    void setOnOpen(std::function<bool(const std::string&)> handler) {
        std::lock_guard lock(mutex_);
        onOpen_ = std::move(handler);
    }

    // What openURL answers without a handler.
    std::atomic<bool> openResult{true};

private:
    mutable std::mutex mutex_;
    std::shared_ptr<idp::URLSession> session_;
    std::shared_ptr<idp::CredentialsStorage> storage_;
    std::function<bool(const std::string&)> onOpen_;
    std::optional<std::string> setting_;
    std::vector<std::string> opened_;
    std::vector<std::string> services_;
    std::atomic<double> skipped_{0};
};

} // namespace quorvel::test

#pragma once

// A URL session that answers from a test's handler, asynchronously like the real one, and keeps
// every request it was sent.

#include "base/CryptoLibrary.h"
#include "idp/SerialQueue.h"
#include "idp/URLSession.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace quorvel::idp::test {

class FakeURLSession final : public URLSession {
public:
    using Handler = std::function<HTTPResult(const HTTPRequest&)>;

    explicit FakeURLSession(Handler handler) : handler_(std::move(handler)) {}

    // Waits for the answers still running, so nothing of a test outlives it.
    ~FakeURLSession() override {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [&] { return running_ == 0; });
    }

    void send(HTTPRequest request, HTTPCompletion completion) override {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            ++inFlight_;
            ++running_;
            maxInFlight_ = std::max(maxInFlight_, inFlight_);
        }
        queue_.async([this, request = std::move(request), completion = std::move(completion)] {
            HTTPResult result = handler_(request);
            {
                std::lock_guard lock(mutex_);
                --inFlight_;
            }
            completion(std::move(result));
            // What the completion did with OpenSSL (checking a signature) leaves per-thread state;
            // release it while the test still waits, so the leak checker never sees it orphaned.
            CryptoLibrary::releaseThreadState();
            std::lock_guard lock(mutex_);
            --running_;
            idle_.notify_all();
        });
    }

    std::vector<HTTPRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int maxInFlight() const {
        std::lock_guard lock(mutex_);
        return maxInFlight_;
    }

private:
    Handler handler_;
    SerialQueue queue_{1024, std::chrono::milliseconds(200)};
    mutable std::mutex mutex_;
    std::vector<HTTPRequest> requests_;
    std::condition_variable idle_;
    int inFlight_ = 0;
    int running_ = 0;
    int maxInFlight_ = 0;
};

inline HTTPResponse jsonResponse(long status, const std::string& body) {
    return HTTPResponse{status, {{"content-type", "application/json"}}, body};
}

// Waits for a value delivered on another thread (bounded, so a failing test ends).
template <class T> class Delivery {
public:
    void operator()(T value) {
        std::lock_guard lock(mutex_);
        values_.push_back(std::move(value));
        changed_.notify_all();
    }
    auto callback() {
        return [this](T value) { (*this)(std::move(value)); };
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return values_.size() >= count; });
    }
    T& first() {
        std::lock_guard lock(mutex_);
        return values_.front();
    }
    T& at(std::size_t index) {
        std::lock_guard lock(mutex_);
        return values_.at(index);
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return values_.size();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<T> values_;
};

} // namespace quorvel::idp::test

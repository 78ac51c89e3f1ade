#include "idp/SerialQueue.h"

#include "base/CryptoLibrary.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace quorvel::idp {

struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    std::size_t capacity = 0;
    std::chrono::milliseconds idleTimeout{0};
    bool workerRunning = false;
    bool closing = false;
    std::thread::id workerId;
};

namespace {

void runWorker(const std::shared_ptr<SerialQueue::State>& state) {
    std::unique_lock lock(state->mutex);
    state->workerId = std::this_thread::get_id();
    for (;;) {
        if (state->tasks.empty()) {
            if (state->closing ||
                !state->wake.wait_for(lock, state->idleTimeout,
                                      [&] { return !state->tasks.empty() || state->closing; }) ||
                state->tasks.empty()) {
                state->workerRunning = false;
                state->workerId = {};
                return;
            }
        }
        std::function<void()> task = std::move(state->tasks.front());
        state->tasks.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A task must not end the worker; the task's owner reports its own failures.
        }
        task = nullptr; // release what it captured before taking the lock again
        lock.lock();
    }
}

} // namespace

SerialQueue::SerialQueue(std::size_t capacity, std::chrono::milliseconds idleTimeout)
    : state_(std::make_shared<State>()) {
    state_->capacity = capacity;
    state_->idleTimeout = idleTimeout;
}

SerialQueue::~SerialQueue() {
    std::lock_guard lock(state_->mutex);
    state_->closing = true;
    state_->wake.notify_all();
}

bool SerialQueue::async(std::function<void()> task) {
    std::lock_guard lock(state_->mutex);
    if (state_->closing || state_->tasks.size() >= state_->capacity) {
        return false;
    }
    state_->tasks.push_back(std::move(task));
    if (state_->workerRunning) {
        state_->wake.notify_one();
        return true;
    }
    state_->workerRunning = true;
    try {
        std::thread([state = state_] {
            runWorker(state);
            // Tasks check signatures and draw random bytes; the per-thread state OpenSSL keeps
            // for that is released here rather than left to its thread-exit hook, which does not
            // always find it.
            CryptoLibrary::releaseThreadState();
        }).detach();
    } catch (...) {
        state_->workerRunning = false;
        state_->tasks.pop_back();
        return false;
    }
    return true;
}

bool SerialQueue::isCurrent() const {
    std::lock_guard lock(state_->mutex);
    return state_->workerRunning && state_->workerId == std::this_thread::get_id();
}

SerialQueue& SerialQueue::immediateAnswers() {
    static auto* queue = new SerialQueue(SIZE_MAX); // kept for the life of the process
    return *queue;
}

} // namespace quorvel::idp

#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace quorvel::idp {

// Runs tasks one at a time, in order, on a worker thread of its own. The thread starts with the
// first task and ends after it has been idle for a while, so an unused queue costs no thread. At
// most `capacity` tasks wait at once; a full queue refuses new ones rather than growing without
// bound. Destroying the queue lets the tasks already queued finish (they keep what they captured
// alive) and never waits for them, so it is safe from inside a task.
class SerialQueue {
public:
    explicit SerialQueue(std::size_t capacity = 256,
                         std::chrono::milliseconds idleTimeout = std::chrono::seconds(10));
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Queues the task; false (and the task is dropped unrun) when the queue is full or closing.
    bool async(std::function<void()> task);
    // True on this queue's worker thread.
    bool isCurrent() const;

    // A process-wide queue for answers that are known at once (a request that cannot be built, a
    // second transaction), so that a callback never runs inside the call that was given it.
    static SerialQueue& immediateAnswers();

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace quorvel::idp

#pragma once

#include "platform/Workspace.h"

#include <deque>
#include <memory>
#include <vector>

namespace quorvel::test {

// A workspace driven by the test: it reports the applications the test lists as running, delivers
// terminations when the test ends one, and keeps every open request until the test answers it.
// Answers are delivered in place (the caller is on the main thread, as with the real workspace).
class FakeWorkspace : public Workspace {
public:
    struct OpenRequest {
        FileURL bundleURL;
        OpenConfiguration configuration;
    };

    std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) override;
    ObservationHandle
    observeTerminations(std::function<void(const RunningApplication&)> handler) override;
    void openApplication(const FileURL& bundleURL, const OpenConfiguration& configuration,
                         OpenCompletion completion) override;

    // What runningApplications reports (filtered by bundle identifier).
    std::vector<RunningApplication> running;
    std::size_t scanCount = 0;
    // Every open request, answered or not, in order.
    std::vector<OpenRequest> openRequests;

    // Removes the application from the running list; with notify, also delivers its termination.
    void end(const RunningApplication& application, bool notify = true);
    // Delivers a termination notification without touching the running list.
    void notifyTermination(const RunningApplication& application);
    // Answers the oldest unanswered open request; false when none is pending. A successful answer
    // does not add the application to the running list: call running.push_back for that.
    bool answerOpen(Expected<RunningApplication, WorkspaceError> answer);
    std::size_t pendingOpenCount() const { return pending_.size(); }
    // Drops unanswered requests (their completions may hold the caller alive).
    void dropPendingOpens() { pending_.clear(); }
    std::size_t observerCount() const;

private:
    struct Observer {
        std::function<void(const RunningApplication&)> handler;
    };
    std::vector<std::weak_ptr<Observer>> observers_;
    std::deque<OpenCompletion> pending_;
};

} // namespace quorvel::test

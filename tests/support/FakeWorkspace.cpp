#include "support/FakeWorkspace.h"

#include <algorithm>

namespace quorvel::test {

namespace {

class Token : public Observation {
public:
    explicit Token(std::shared_ptr<void> observer) : observer_(std::move(observer)) {}

private:
    std::shared_ptr<void> observer_;
};

} // namespace

std::vector<RunningApplication>
FakeWorkspace::runningApplications(std::string_view bundleIdentifier) {
    ++scanCount;
    std::vector<RunningApplication> result;
    for (const auto& application : running) {
        if (application.bundleIdentifier == bundleIdentifier)
            result.push_back(application);
    }
    return result;
}

ObservationHandle
FakeWorkspace::observeTerminations(std::function<void(const RunningApplication&)> handler) {
    auto observer = std::make_shared<Observer>(Observer{std::move(handler)});
    observers_.push_back(observer);
    return std::make_unique<Token>(observer);
}

void FakeWorkspace::openApplication(const FileURL& bundleURL,
                                    const OpenConfiguration& configuration,
                                    OpenCompletion completion) {
    openRequests.push_back({bundleURL, configuration});
    pending_.push_back(std::move(completion));
}

void FakeWorkspace::end(const RunningApplication& application, bool notify) {
    std::erase(running, application);
    if (notify)
        notifyTermination(application);
}

void FakeWorkspace::notifyTermination(const RunningApplication& application) {
    std::vector<std::shared_ptr<Observer>> live;
    for (const auto& weak : observers_) {
        if (auto observer = weak.lock())
            live.push_back(observer);
    }
    for (const auto& observer : live)
        observer->handler(application);
}

bool FakeWorkspace::answerOpen(Expected<RunningApplication, WorkspaceError> answer) {
    if (pending_.empty())
        return false;
    OpenCompletion completion = std::move(pending_.front());
    pending_.pop_front();
    completion(std::move(answer));
    return true;
}

std::size_t FakeWorkspace::observerCount() const {
    return static_cast<std::size_t>(std::count_if(
        observers_.begin(), observers_.end(), [](const auto& weak) { return !weak.expired(); }));
}

} // namespace quorvel::test

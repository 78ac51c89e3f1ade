#pragma once

#include "base/Expected.h"
#include "platform/Observation.h"
#include "platform/RunningApplication.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

struct OpenConfiguration {
    // Whether the opened application is brought to the front.
    bool activates = false;
    std::vector<std::string> arguments;
    // Variables added to the opener's own environment; absent and empty both add nothing.
    std::optional<std::map<std::string, std::string>> environment;

    bool operator==(const OpenConfiguration&) const = default;
};

struct WorkspaceError {
    std::string message;
    bool operator==(const WorkspaceError&) const = default;
};

// Held while a caller decides whether to open a bundle and opens it
// (Workspace::excludeOtherLaunches).
class LaunchExclusion {
public:
    virtual ~LaunchExclusion() = default;
};
using LaunchExclusionHandle = std::shared_ptr<LaunchExclusion>;

// The desktop's view of running applications: who runs, who exited, and opening an application
// bundle. All callbacks run on the main thread.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Every live application whose bundle has this identifier, in the platform's order.
    virtual std::vector<RunningApplication>
    runningApplications(std::string_view bundleIdentifier) = 0;

    // One call per exit of an application that the workspace has reported or opened, with the
    // application as last seen.
    virtual ObservationHandle
    observeTerminations(std::function<void(const RunningApplication&)> handler) = 0;

    // Starts the application bundle (or finds it running) and answers once, later, on the main
    // thread, with the running application or an error.
    using OpenCompletion = std::function<void(Expected<RunningApplication, WorkspaceError>)>;
    virtual void openApplication(const FileURL& bundleURL, const OpenConfiguration& configuration,
                                 OpenCompletion completion) = 0;

    // Keeps every other process's "open this bundle, or find it running" waiting until the handle
    // is released, so that a caller can look for a running copy, decide and open it as one step.
    // Asking again in the same process while it is held gives the same hold. Nothing where the
    // platform offers no such exclusion.
    virtual LaunchExclusionHandle excludeOtherLaunches(const FileURL&) { return nullptr; }
};

} // namespace quorvel

#pragma once

#include "platform/RunningBundleScan.h"
#include "platform/Workspace.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <unordered_map>

namespace quorvel {

// The workspace of this system. Running applications come from a scan of the process table
// (RunningBundleScan). Every application reported or opened is watched through a process handle
// on GLib's default main context, so its exit is noticed at once; children are reaped on exit, so
// no zombie is ever reported.
class SystemWorkspace : public Workspace, public std::enable_shared_from_this<SystemWorkspace> {
public:
    static std::shared_ptr<SystemWorkspace> create();
    ~SystemWorkspace() override;

    std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) override;
    ObservationHandle
    observeTerminations(std::function<void(const RunningApplication&)> handler) override;
    void openApplication(const FileURL& bundleURL, const OpenConfiguration& configuration,
                         OpenCompletion completion) override;
    // An exclusive lock on a file named after the bundle (ApplicationLaunchLock), which
    // openApplication also holds across its own scan and spawn.
    LaunchExclusionHandle excludeOtherLaunches(const FileURL& bundleURL) override;

    // Root of the process table; tests point it elsewhere only to measure.
    void setProcRoot(std::string root) { scan_.setProcRoot(std::move(root)); }

private:
    SystemWorkspace() = default;

    struct Watch;
    struct Observer;

    void watch(const RunningApplication& application, bool ownChild);
    void exited(pid_t pid);
    friend struct SystemWorkspaceAccess;

    RunningBundleScan scan_;
    std::unordered_map<pid_t, std::unique_ptr<Watch>> watches_;
    std::vector<std::weak_ptr<Observer>> observers_;
    std::unordered_map<std::string, std::weak_ptr<LaunchExclusion>> launchExclusions_;
};

} // namespace quorvel

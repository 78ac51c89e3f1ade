#pragma once

// The launcher's one object. It keeps the host app running: launches it at start unless it runs
// already, watches its process through the workspace's termination notification and a health
// check every second, relaunches it after every exit with the recovery policy's delay, lets update
// recovery repair a half-installed update and the proof witness claim and attest each automatic
// relaunch, and stops itself as soon as the maintenance marker asks it to.
//
// The proof witness and update recovery are optional collaborators whose types come from
// Collaborators (QuorvelLauncherRuntime.h names the production ones); unit tests substitute their
// own. Everything here runs on the main thread.

#include "base/Logger.h"
#include "base/MainLoop.h"
#include "base/SmallFile.h"
#include "launcher/LaunchRecoveryPolicy.h"
#include "launcher/LauncherApplicationFact.h"
#include "launcher/LauncherMaintenanceMarker.h"
#include "launcher/LauncherParentMonitor.h"
#include "launcher/QuorvelLauncherLocation.h"
#include "platform/ApplicationSupport.h"
#include "platform/BundleInfo.h"
#include "platform/Workspace.h"
#include "proof/LauncherProofLeaseStore.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace quorvel {

inline constexpr const char* hostBackgroundLaunchArgument = "--quorvel-background-launch";
inline constexpr double launcherHealthCheckInterval = 1.0;
inline constexpr const char* updateReceiptFileName = "receipt.json";
// A receipt is a small JSON record; anything larger is not one.
inline constexpr std::size_t updateReceiptMaximumSize = 1024 * 1024;

inline Logger launcherRuntimeLogger() {
    return Logger(logSubsystem, "LoginLauncher");
}

template <class Collaborators>
class BasicQuorvelLauncherRuntime
    : public std::enable_shared_from_this<BasicQuorvelLauncherRuntime<Collaborators>> {
public:
    using Witness = typename Collaborators::Witness;
    using Claim = typename Collaborators::Claim;
    using EventTracker = typename Collaborators::EventTracker;
    using Recovery = typename Collaborators::Recovery;
    using Terminate = std::function<void()>;

    // The production wiring: the witness from the collaborators' production form and update
    // recovery for the host bundle, each absent when it cannot be formed.
    static std::shared_ptr<BasicQuorvelLauncherRuntime>
    create(std::shared_ptr<MainLoop> mainLoop, std::shared_ptr<Workspace> workspace,
           Terminate terminate, const FileURL& helperBundleURL,
           std::optional<FileURL> maintenanceURL) {
        FileURL parent = QuorvelLauncherLocation::parentApplication(helperBundleURL);
        return create(std::move(mainLoop), std::move(workspace), std::move(terminate),
                      helperBundleURL, std::move(maintenanceURL),
                      Collaborators::productionWitness(),
                      Collaborators::productionRecovery(parent));
    }

    // The same with the optional collaborators given.
    static std::shared_ptr<BasicQuorvelLauncherRuntime>
    create(std::shared_ptr<MainLoop> mainLoop, std::shared_ptr<Workspace> workspace,
           Terminate terminate, const FileURL& helperBundleURL,
           std::optional<FileURL> maintenanceURL, std::optional<Witness> proofWitness,
           std::optional<Recovery> updateRecovery) {
        return std::shared_ptr<BasicQuorvelLauncherRuntime>(new BasicQuorvelLauncherRuntime(
            std::move(mainLoop), std::move(workspace), std::move(terminate), helperBundleURL,
            std::move(maintenanceURL), std::move(proofWitness), std::move(updateRecovery)));
    }

    BasicQuorvelLauncherRuntime(const BasicQuorvelLauncherRuntime&) = delete;
    BasicQuorvelLauncherRuntime& operator=(const BasicQuorvelLauncherRuntime&) = delete;

    // Starts supervising. False when maintenance is requested: then nothing was started and the
    // process must end at once.
    bool run() {
        if (maintenanceRequested()) {
            log_.info("runtime action=suppressed reason=maintenance");
            return false;
        }
        if (started_)
            return true;
        started_ = true;
        log_.info("runtime action=started");
        // A launcher killed while it held a claim left the lease hidden; give it back (or drop it)
        // before anything else can need it.
        if (proofWitness_)
            proofWitness_->recoverAbandonedClaims();
        auto weak = this->weak_from_this();
        terminationObservation_ =
            workspace_->observeTerminations([weak](const RunningApplication& application) {
                if (auto self = weak.lock())
                    self->applicationTerminated(application);
            });
        healthCheck_ = mainLoop_->scheduleTimer(launcherHealthCheckInterval, true, [weak] {
            if (auto self = weak.lock())
                self->checkParentHealth();
        });
        checkParentHealth();
        launchIfNeeded();
        return true;
    }

    // The maintenance marker rule, evaluated on the files as they are now.
    bool maintenanceRequested() const {
        if (!maintenanceURL_)
            return false;
        auto marker = MaintenanceMarkerFile::read(*maintenanceURL_);
        // The receipt only matters for an installer marker; skip reading it otherwise.
        std::optional<UpdateReceiptState> receiptState;
        if (marker.exists && marker.contents &&
            LauncherMaintenanceMarker::isInstallerMarker(*marker.contents)) {
            receiptState = updateReceiptState();
        }
        return LauncherMaintenanceMarker::suppressesLaunch(marker.exists, marker.contents,
                                                           receiptState);
    }

    std::vector<LauncherApplicationFact> runningParents() const {
        return workspace_->runningApplications(hostBundleIdentifier);
    }

    // The launch decision and the launch.
    void launchIfNeeded() {
        if (stopped_)
            return;
        if (maintenanceRequested()) {
            stopForMaintenance();
            return;
        }
        // From the look for a running host app to the spawn, other launchers of this bundle wait:
        // started together, they find the one host app that the first of them opened.
        LaunchExclusionHandle exclusion = workspace_->excludeOtherLaunches(parentURL_);
        auto parents = parentMonitor_.expectedParents(runningParents());
        if (!parents.empty()) {
            const auto& first = parents.front();
            if (parentMonitor_.isParent(first)) {
                parentMonitor_.liveParent = first;
                parentMonitor_.recovery = LauncherParentRecoveryState::idle();
            }
            log_.info("launch action=skipped reason=parent_running");
            return;
        }
        if (updateRecovery_) {
            auto outcome = updateRecovery_->recover(mainLoop_->now());
            using Outcome = std::remove_cvref_t<decltype(outcome)>;
            if (outcome.kind != Outcome::Kind::idle) {
                std::string description = outcome.description();
                log_.info("update_recovery outcome=%{public}s", {std::string_view(description)});
            }
            releaseInstallerMarker();
        }
        log_.info("launch action=requested");
        OpenConfiguration configuration;
        configuration.activates = false;
        configuration.arguments = {hostBackgroundLaunchArgument};
        auto attempt = proofEvents_.claimForRelaunch(proofWitness_, parentExecutableURL_);
        std::optional<Claim> claim;
        if (attempt)
            claim = std::move(*attempt);
        if (proofEvents_.observedTermination) {
            std::string_view reason = claim ? "claimed" : rawValue(attempt.error());
            log_.info("proof_claim attempted=true claimed=%{bool,public}d reason=%{public}s",
                      {claim.has_value(), reason});
        }
        // A claimed relaunch starts the host app with nothing but the launcher's own environment.
        if (claim)
            configuration.environment = std::map<std::string, std::string>{};
        // The answer keeps the runtime and the claim until it is handled, so that a claim is
        // either attested or given back.
        auto self = this->shared_from_this();
        workspace_->openApplication(
            parentURL_, configuration,
            [self, claim](Expected<RunningApplication, WorkspaceError> answer) {
                if (self->mainLoop_->isMainThread()) {
                    self->openAnswered(answer, claim);
                } else {
                    self->mainLoop_->post(
                        [self, answer, claim] { self->openAnswered(answer, claim); });
                }
            });
    }

    // One health-check tick.
    void checkParentHealth() {
        if (stopped_)
            return;
        bool maintenance = maintenanceRequested();
        auto exit = parentMonitor_.observeHealthCheck(runningParents(), maintenance);
        if (exit) {
            schedule(*exit);
        } else if (maintenance) {
            stopForMaintenance();
        }
    }

    // One termination notification, for any application.
    void applicationTerminated(const LauncherApplicationFact& fact) {
        if (stopped_)
            return;
        bool maintenance = maintenanceRequested();
        auto exit = parentMonitor_.observeTermination(fact, maintenance);
        if (exit) {
            schedule(*exit);
        } else if (maintenance) {
            stopForMaintenance();
        }
    }

    void schedule(const LauncherParentExit& exit) {
        const auto& application = exit.application;
        if (application.bundleIdentifier != hostBundleIdentifier ||
            application.processIdentifier < 1)
            return;
        proofEvents_.observedTermination = application;
        std::string_view source = rawValue(exit.source);
        log_.info("relaunch boundary=parent_exit reason=%{public}s action=schedule", {source});
        scheduleRelaunch();
    }

    // Arms the retry timer with the next delay of the recovery policy.
    void scheduleRelaunch() {
        retry_.reset();
        if (stopped_)
            return;
        if (maintenanceRequested()) {
            stopForMaintenance();
            return;
        }
        double delay = recovery_.nextDelay(mainLoop_->now());
        log_.info("relaunch action=scheduled delay_seconds=%{public}ld",
                  {static_cast<std::int64_t>(delay)});
        auto weak = this->weak_from_this();
        retry_ = mainLoop_->scheduleTimer(delay, false, [weak] {
            if (auto self = weak.lock())
                self->retryFired();
        });
    }

    // Stops every timer and ends the launcher; nothing is launched or relaunched after this.
    void stopForMaintenance() {
        if (stopped_)
            return;
        stopped_ = true;
        retry_.reset();
        healthCheck_.reset();
        parentMonitor_.recovery = LauncherParentRecoveryState::idle();
        log_.info("relaunch action=suppressed reason=maintenance");
        if (terminate_)
            terminate_();
    }

    // Removes an installer marker once update recovery has run; a stop marker always stays.
    void releaseInstallerMarker() {
        if (!maintenanceURL_)
            return;
        auto release = MaintenanceMarkerFile::releaseInstallerMarker(*maintenanceURL_);
        if (release == MaintenanceMarkerFile::Release::removed ||
            release == MaintenanceMarkerFile::Release::removalFailed) {
            log_.info("update_recovery marker=released");
        }
    }

    const std::shared_ptr<Workspace>& workspace() const { return workspace_; }
    const FileURL& parentURL() const { return parentURL_; }
    const std::optional<FileURL>& parentExecutableURL() const { return parentExecutableURL_; }
    const std::optional<FileURL>& maintenanceURL() const { return maintenanceURL_; }
    const std::optional<Witness>& proofWitness() const { return proofWitness_; }
    const LaunchRecoveryPolicy& recovery() const { return recovery_; }
    const LauncherParentMonitor& parentMonitor() const { return parentMonitor_; }
    const EventTracker& proofEvents() const { return proofEvents_; }
    const std::optional<Recovery>& updateRecovery() const { return updateRecovery_; }
    bool hasTerminationObservation() const { return terminationObservation_ != nullptr; }
    bool hasHealthCheck() const { return healthCheck_ && healthCheck_->isValid(); }
    bool hasRetry() const { return retry_ && retry_->isValid(); }
    bool isStopped() const { return stopped_; }

private:
    BasicQuorvelLauncherRuntime(std::shared_ptr<MainLoop> mainLoop,
                                std::shared_ptr<Workspace> workspace, Terminate terminate,
                                const FileURL& helperBundleURL,
                                std::optional<FileURL> maintenanceURL,
                                std::optional<Witness> proofWitness,
                                std::optional<Recovery> updateRecovery)
        : mainLoop_(std::move(mainLoop)), terminate_(std::move(terminate)),
          workspace_(std::move(workspace)),
          parentURL_(QuorvelLauncherLocation::parentApplication(helperBundleURL)),
          parentExecutableURL_(executableOf(parentURL_)),
          maintenanceURL_(std::move(maintenanceURL)), proofWitness_(std::move(proofWitness)),
          parentMonitor_(LauncherProofLeaseStore::canonicalExecutableURL(parentExecutableURL_)),
          updateRecovery_(std::move(updateRecovery)) {}

    static std::optional<FileURL> executableOf(const FileURL& bundleURL) {
        auto bundle = readBundle(bundleURL);
        if (!bundle)
            return std::nullopt;
        return bundle->executableURL();
    }

    std::optional<UpdateReceiptState> updateReceiptState() const {
        if (!updateRecovery_)
            return std::nullopt;
        FileURL receipt =
            updateRecovery_->paths().updatesDirectory.appendingPathComponent(updateReceiptFileName);
        auto file = readSmallRegularFile(receipt, updateReceiptMaximumSize);
        if (!file)
            return std::nullopt;
        return Collaborators::decodeReceiptState(bytesOf(file->contents));
    }

    void retryFired() {
        retry_.reset();
        if (stopped_)
            return;
        if (parentMonitor_.recovery.kind == LauncherParentRecoveryState::Kind::scheduled) {
            parentMonitor_.recovery =
                LauncherParentRecoveryState::opening(parentMonitor_.recovery.processIdentifier);
        }
        launchIfNeeded();
    }

    void openAnswered(const Expected<RunningApplication, WorkspaceError>& answer,
                      const std::optional<Claim>& claim) {
        if (answer) {
            if (auto parent = parentMonitor_.observeReplacement(*answer)) {
                log_.info("launch result=succeeded");
                recovery_.launched(mainLoop_->now());
                proofEvents_.recordSuccessfulReplacement(*parent, proofWitness_, claim);
                return;
            }
            log_.error("launch result=failed reason=unexpected_parent action=schedule_retry");
        } else {
            log_.error("launch result=failed action=schedule_retry");
        }
        if (proofWitness_ && claim)
            proofWitness_->restoreClaim(*claim);
        if (parentMonitor_.recovery.kind == LauncherParentRecoveryState::Kind::opening) {
            parentMonitor_.recovery =
                LauncherParentRecoveryState::scheduled(parentMonitor_.recovery.processIdentifier);
        }
        scheduleRelaunch();
    }

    std::shared_ptr<MainLoop> mainLoop_;
    Terminate terminate_;
    Logger log_ = launcherRuntimeLogger();

    std::shared_ptr<Workspace> workspace_;
    FileURL parentURL_;
    std::optional<FileURL> parentExecutableURL_;
    std::optional<FileURL> maintenanceURL_;
    std::optional<Witness> proofWitness_;
    LaunchRecoveryPolicy recovery_;
    ObservationHandle terminationObservation_;
    TimerHandle retry_;
    TimerHandle healthCheck_;
    LauncherParentMonitor parentMonitor_;
    EventTracker proofEvents_;
    std::optional<Recovery> updateRecovery_;

    bool started_ = false;
    bool stopped_ = false;
};

} // namespace quorvel

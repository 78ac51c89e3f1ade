#include "update/UpdateRecovery.h"

#include "base/Uuid.h"
#include "platform/ApplicationSupport.h"

#include <algorithm>
#include <limits>
#include <type_traits>

namespace quorvel {

const Logger& updateRecoveryLogger() {
    static const Logger logger(logSubsystem, "UpdateRecovery");
    return logger;
}

UpdateRecovery::UpdateRecovery(UpdateRecoveryPaths paths, std::shared_ptr<UpdateRecoveryHost> host)
    : paths_(std::move(paths)), host_(std::move(host)) {}

std::optional<UpdateReceipt> UpdateRecovery::readReceipt() const {
    auto bytes = host_->readFile(paths_.receiptURL(), UpdateRecoveryLimits::receiptSizeLimit);
    if (!bytes)
        return std::nullopt;
    return UpdateReceipt::decode(*bytes);
}

void UpdateRecovery::writeHoldMarker(const std::string& version) const {
    if (host_->write(bytesOf(version + "\n"), paths_.holdMarkerURL())) {
        updateRecoveryLogger().info("hold action=written");
    } else {
        updateRecoveryLogger().error("hold action=failed");
    }
}

void UpdateRecovery::writeReceipt(const UpdateReceipt& receipt) const {
    // A failed rewrite leaves the old file whole (the write is atomic) and changes no outcome.
    (void)host_->write(receipt.encode(), paths_.receiptURL());
}

UpdateRecoveryOutcome UpdateRecovery::recover(TimePoint now) const {
    if (!host_)
        return UpdateRecoveryOutcome::idle();
    // What a killed recovery left beside the bundle goes first, whatever this one then does.
    for (const FileURL& stale : host_->removeStaleSiblings(paths_.applicationBundle)) {
        std::string name = stale.lastPathComponent();
        updateRecoveryLogger().info("leftover action=removed name=%{public}s",
                                    {std::string_view(name)});
    }
    auto receipt = readReceipt();
    // The bundle is classified on every call, receipt or not.
    UpdateBundleCondition condition = host_->condition(paths_.applicationBundle);
    UpdateRecoveryAction action = UpdateRecoveryDecision::action(receipt, condition, paths_);

    return std::visit(
        [&](const auto& step) -> UpdateRecoveryOutcome {
            using Step = std::decay_t<decltype(step)>;
            if constexpr (std::is_same_v<Step, UpdateRecoveryAction::None>) {
                return UpdateRecoveryOutcome::idle();
            } else if constexpr (std::is_same_v<Step, UpdateRecoveryAction::Unrecoverable>) {
                if (step.failedVersion)
                    writeHoldMarker(*step.failedVersion);
                updateRecoveryLogger().error("recovery result=unrecoverable reason=no_snapshot");
                return UpdateRecoveryOutcome::unrecoverable();
            } else if constexpr (std::is_same_v<Step, UpdateRecoveryAction::Clean>) {
                return clean(step, *receipt);
            } else {
                // The marker goes out before the attempt, whatever the attempt then does.
                writeHoldMarker(step.failedVersion);
                return restore(step, *receipt, condition, now);
            }
        },
        action.value);
}

UpdateRecoveryOutcome UpdateRecovery::restore(const UpdateRecoveryAction::Restore& action,
                                              const UpdateReceipt& receipt,
                                              UpdateBundleCondition condition,
                                              TimePoint now) const {
    const Logger& log = updateRecoveryLogger();
    const FileURL& bundle = paths_.applicationBundle;
    const std::string bundleName = bundle.lastPathComponent();
    auto failed = [&](const char* message, const std::optional<FileURL>& scratch) {
        log.error(message);
        if (scratch)
            host_->removeItem(*scratch);
        return UpdateRecoveryOutcome::rollbackFailed(receipt.toVersion);
    };

    auto scratch = host_->makeScratchDirectory(bundle);
    if (!scratch)
        return failed("restore result=failed reason=scratch", std::nullopt);

    auto entries =
        host_->extractArchive(action.snapshot, *scratch, extractionLimit(action.snapshot));
    if (!entries || entries->size() != UpdateRecoveryLimits::snapshotTopLevelEntries ||
        entries->front().lastPathComponent() != bundleName) {
        return failed("restore result=failed reason=archive", *scratch);
    }
    const FileURL candidate = entries->front();

    if (host_->condition(candidate) != UpdateBundleCondition::verified) {
        return failed("restore result=failed reason=snapshot_unverified", *scratch);
    }

    const FileURL setAside = bundle.deletingLastPathComponent().appendingPathComponent(
        "." + bundleName + ".failed." + randomUuidString());

    if (condition == UpdateBundleCondition::missing) {
        if (!host_->moveItem(candidate, bundle)) {
            return failed("restore result=failed reason=move_in", *scratch);
        }
    } else if (auto exchanged = host_->exchangeItems(candidate, bundle)) {
        // One step, so that the bundle path holds a whole bundle at every instant, the broken one
        // or the restored one: a launcher killed here still finds an app to start. The broken
        // bundle now lies where the candidate was, inside the scratch directory.
        host_->removeItem(candidate);
    } else if (exchanged.error().kind != UpdateRecoveryHostError::Kind::unsupported) {
        return failed("restore result=failed reason=move_aside", *scratch);
    } else {
        // A file system without an atomic exchange: two renames, with a short gap between them.
        if (!host_->moveItem(bundle, setAside)) {
            return failed("restore result=failed reason=move_aside", *scratch);
        }
        if (!host_->moveItem(candidate, bundle)) {
            // Put the broken bundle back so that nothing is lost; its own failure is not reported.
            (void)host_->moveItem(setAside, bundle);
            return failed("restore result=failed reason=move_in", *scratch);
        }
        host_->removeItem(setAside);
    }

    UpdateReceipt rewritten = receipt;
    rewritten.state = UpdateReceiptState::rolledBack;
    rewritten.rolledBackAt = formatInternetDateTimeWithFractionalSeconds(now);
    rewritten.rollbackReason = std::string(toString(action.reason));
    writeReceipt(rewritten);

    log.info("restore result=succeeded reason=%{public}s", {toString(action.reason)});
    host_->removeItem(*scratch);
    return UpdateRecoveryOutcome::rolledBack(receipt.toVersion, action.reason);
}

std::uint64_t UpdateRecovery::extractionLimit(const FileURL& snapshot) const {
    std::uint64_t expected =
        std::max(host_->diskUsage(paths_.applicationBundle), host_->diskUsage(snapshot));
    constexpr std::uint64_t factor = UpdateRecoveryLimits::extractedSizeFactor;
    if (expected > std::numeric_limits<std::uint64_t>::max() / factor)
        return std::numeric_limits<std::uint64_t>::max();
    return std::max(expected * factor, UpdateRecoveryLimits::extractedSizeFloor);
}

UpdateRecoveryOutcome UpdateRecovery::clean(const UpdateRecoveryAction::Clean& action,
                                            const UpdateReceipt& receipt) const {
    for (const FileURL& leftover : {action.snapshot, action.artifact}) {
        if (paths_.isRemovableUpdateFile(leftover))
            host_->removeItem(leftover);
    }
    UpdateReceipt rewritten = receipt;
    rewritten.state = UpdateReceiptState::cleaned;
    writeReceipt(rewritten);
    updateRecoveryLogger().info("cleanup result=succeeded");
    return UpdateRecoveryOutcome::cleaned();
}

} // namespace quorvel

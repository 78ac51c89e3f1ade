#include "update/UpdateRecovery.h"

#include "base/Uuid.h"
#include "platform/ApplicationSupport.h"

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

    auto entries = host_->extractArchive(action.snapshot, *scratch);
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
    } else {
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

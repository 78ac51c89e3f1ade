// The status shell's C functions. All of them work on the main thread only and answer 0 (or do
// nothing) anywhere else, without hopping or waiting. One controller exists while installed.
#include "shell/ShellBridge.h"

#include "base/Logger.h"
#include "quorvel_shell_bridge.h"
#include "shell/SystemStatusBar.h"

namespace quorvel::shellbridge {

namespace {

std::shared_ptr<MenuBarController>& controllerSlot() {
    static std::shared_ptr<MenuBarController> controller;
    return controller;
}

std::shared_ptr<StatusBar>& statusBarSlot() {
    static std::shared_ptr<StatusBar> statusBar;
    return statusBar;
}

bool onMainThread() {
    return MainLoop::shared().isMainThread();
}

// A refused snapshot is the host developer's only puzzle here, so it is named in one line: the key
// and the reason, never the document or its values.
const Logger& shellLogger() {
    static const Logger logger("com.quorvel.desktop", "StatusShell");
    return logger;
}

} // namespace

void setStatusBar(std::shared_ptr<StatusBar> statusBar) {
    statusBarSlot() = std::move(statusBar);
}

std::shared_ptr<MenuBarController> installedController() {
    return controllerSlot();
}

} // namespace quorvel::shellbridge

using namespace quorvel;
using quorvel::shellbridge::controllerSlot;
using quorvel::shellbridge::onMainThread;
using quorvel::shellbridge::shellLogger;
using quorvel::shellbridge::statusBarSlot;

extern "C" {

int32_t quorvel_shell_install(quorvel_shell_command_callback callback, void* context) {
    if (!onMainThread() || !callback)
        return 0;
    if (auto& held = controllerSlot())
        return held->isPresent() ? 1 : 0;
    if (!statusBarSlot())
        statusBarSlot() = makeSystemStatusBar();
    auto controller =
        MenuBarController::create(statusBarSlot(), [callback, context](ShellCommand command) {
            callback(rawValue(command), context);
        });
    if (!controller)
        return 0;
    controllerSlot() = controller;
    return controller->isPresent() ? 1 : 0;
}

int32_t quorvel_shell_apply_snapshot(const char* json, intptr_t length) {
    if (!onMainThread() || !json || length < 1)
        return 0;
    SnapshotRefusal refusal;
    auto snapshot = RecorderSnapshot::decode(
        std::string_view(json, static_cast<std::size_t>(length)), &refusal);
    if (!snapshot) {
        shellLogger().error("snapshot result=refused key=%{public}s reason=%{public}s",
                            {refusal.key, refusal.reason});
        return 0;
    }
    auto controller = controllerSlot();
    if (!controller)
        return 0;
    controller->apply(*snapshot);
    return 1;
}

int32_t quorvel_shell_is_installed(void) {
    if (!onMainThread())
        return 0;
    auto& controller = controllerSlot();
    return controller && controller->isPresent() ? 1 : 0;
}

int32_t quorvel_shell_is_ready(void) {
    return quorvel_shell_is_installed();
}

int32_t quorvel_shell_is_visible(void) {
    if (!onMainThread())
        return 0;
    auto& controller = controllerSlot();
    return controller && controller->isRequestedVisible() ? 1 : 0;
}

int32_t quorvel_shell_status_item_frame(double* x, double* y, double* width, double* height) {
    if (!onMainThread() || !x || !y || !width || !height)
        return 0;
    auto& controller = controllerSlot();
    if (!controller)
        return 0;
    auto frame = controller->statusItemFrame();
    if (!frame)
        return 0;
    *x = frame->x;
    *y = frame->y;
    *width = frame->width;
    *height = frame->height;
    return 1;
}

int32_t quorvel_shell_acknowledge(int32_t reduce_motion,
                                  quorvel_shell_completion_callback completion, void* context) {
    if (!onMainThread() || !completion)
        return 0;
    auto controller = controllerSlot();
    if (!controller)
        return 0;
    bool started = controller->acknowledgement()->begin(
        reduce_motion != 0,
        [completion, context](bool completed) { completion(completed ? 1 : 0, context); });
    return started ? 1 : 0;
}

void quorvel_shell_cancel_acknowledgement(void) {
    if (!onMainThread())
        return;
    if (auto controller = controllerSlot())
        controller->cancelAcknowledgement();
}

int32_t quorvel_shell_acknowledgement_pending(void) {
    if (!onMainThread())
        return 0;
    auto controller = controllerSlot();
    if (!controller)
        return 0;
    return controller->acknowledgement()->isPending() ? 1 : 0;
}

void quorvel_shell_uninstall(void) {
    if (!onMainThread())
        return;
    auto controller = controllerSlot();
    if (!controller)
        return;
    controller->remove();
    // Cleared only after remove(): a completion called from inside it still finds the shell.
    controllerSlot().reset();
}

} // extern "C"

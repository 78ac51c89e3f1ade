// The launcher's entry. No arguments, no window: it supervises the host app bundle it lies in
// until the maintenance marker stops it, and always ends with exit status 0.

#include "base/GLibMainLoop.h"
#include "base/TerminationSignals.h"
#include "launcher/QuorvelLauncherRuntime.h"
#include "platform/BundleInfo.h"
#include "platform/SystemWorkspace.h"

#include <csignal>
#include <memory>

namespace {

// Kept for the life of the process, as the runtime expects.
std::shared_ptr<quorvel::QuorvelLauncherRuntime> runtime;

} // namespace

int main() {
    using namespace quorvel;
    // Log lines go to standard error or the journal; a reader that went away must not end us.
    std::signal(SIGPIPE, SIG_IGN);

    // There is no application object to keep out of the dock here: the launcher has no toolkit
    // and no window, only GLib's main loop.
    auto loop = std::make_shared<GLibMainLoop>();
    MainLoop::setShared(loop);
    GLibMainLoop* rawLoop = loop.get();
    // Before any thread is started, which would inherit the mask.
    auto signals = TerminationSignals::watch([rawLoop] { rawLoop->quit(); });

    // Terminating may happen inside run(), before the loop runs: quitting a loop that does not
    // run yet would be lost, so it is remembered.
    bool terminated = false;
    runtime = QuorvelLauncherRuntime::create(
        loop, SystemWorkspace::create(),
        [&terminated, rawLoop] {
            terminated = true;
            rawLoop->quit();
        },
        mainBundleURL(), maintenanceStopURL());

    if (runtime->run() && !terminated)
        loop->run();
    runtime.reset();
    return 0;
}

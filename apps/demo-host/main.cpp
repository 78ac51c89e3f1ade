// The demo host app: stands in for the recorder application. Each feature is started by one call
// here and lives in a file of its own beside this one.

#include "DemoHost.h"
#include "DemoIdentity.h"
#include "DemoLifecycle.h"
#include "DemoLoginItem.h"
#include "DemoProofLease.h"
#include "DemoShell.h"

#include <algorithm>

int main(int argc, char** argv) {
    DemoHost host(argc, argv);
    const auto& arguments = host.arguments();
    // One-shot roles: register or stop the login item, or hand off to a running copy (a focus
    // request, or a sign-in callback URL that the desktop delivered to this copy).
    if (handleDemoLoginItem(arguments) || handleDemoFocusExisting(arguments) ||
        handleDemoIdentityCallback(arguments)) {
        return 0;
    }
    // Before the start line, so that a harness that has seen it may ask for a lease at once.
    startDemoProofLease();
    host.announce();
    startDemoLifecycle();
    if (std::find(arguments.begin(), arguments.end(), "--shell-demo") != arguments.end()) {
        demo::startDemoShell();
    }
    if (std::find(arguments.begin(), arguments.end(), "--identity-demo") != arguments.end()) {
        startDemoIdentity(arguments);
    }
    return host.run();
}

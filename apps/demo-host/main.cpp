// The demo host app: stands in for the recorder application. Each feature is started by one call
// here and lives in a file of its own beside this one.

#include "DemoHost.h"

int main(int argc, char** argv) {
    DemoHost host(argc, argv);
    host.announce();
    return host.run();
}

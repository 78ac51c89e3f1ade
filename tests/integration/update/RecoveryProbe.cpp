// One update recovery run as the launcher makes it, with the production host, in a process of its
// own that the kill test can end at any instant:
//   quorvel_recovery_probe BUNDLE UPDATES_DIR PUBLIC_KEY.pem
// Prints the outcome's textual form.

#include "base/InternetDateTime.h"
#include "support/TemporaryDirectory.h"
#include "update/SystemUpdateRecoveryHost.h"
#include "update/UpdateRecovery.h"

#include <cstdio>

int main(int argc, char** argv) {
    using namespace quorvel;
    if (argc != 4) {
        std::fprintf(stderr, "usage: quorvel_recovery_probe BUNDLE UPDATES_DIR PUBLIC_KEY.pem\n");
        return 2;
    }
    SystemUpdateRecoveryHost::Options options;
    options.trustedKeyPem = test::readFileText(argv[3]);
    UpdateRecovery recovery(
        UpdateRecoveryPaths{FileURL::fromPath(argv[1]), FileURL::fromPath(argv[2])},
        std::make_shared<SystemUpdateRecoveryHost>(options));
    std::printf("%s\n", recovery.recover(Clock::now()).description().c_str());
    return 0;
}

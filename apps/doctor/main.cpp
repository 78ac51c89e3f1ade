// quorvel-doctor: one line per check of what the tray item, sign-in and login item rely on.
#include "DoctorCheck.h"
#include "DoctorReport.h"
#include "DoctorUsage.h"

#include <cstdio>
#include <string_view>

using namespace quorvel::doctor;

int main(int argc, char** argv) {
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--json") {
            json = true;
        } else if (argument == "--help" || argument == "-h") {
            std::fputs(usageText(), stdout);
            return 0;
        } else {
            std::fprintf(stderr, "quorvel-doctor: unknown option %s (see --help)\n", argv[i]);
            return 2;
        }
    }
    DoctorChecks checks;
    checkSessionBus(checks);
    checkTray(checks);
    checkKeyring(checks);
    checkLogind(checks);
    checkLoginItem(checks);
    checkCallbackScheme(checks);
    checkSupportFolder(checks);
    checkLauncher(checks);
    const std::string report = json ? jsonReport(checks) : textReport(checks);
    std::fputs(report.c_str(), stdout);
    return exitStatus(checks);
}

#include "DoctorCheck.h"
#include "DoctorReport.h"
#include "platform/ProcessStat.h"
#include "platform/RunningBundleScan.h"

#include <chrono>
#include <dirent.h>
#include <string>

namespace quorvel::doctor {

// Finds QuorvelLauncher processes of this user in /proc: pid, the bundle it runs from, and since
// when.
void checkLauncher(DoctorChecks& out) {
    std::string found;
    DIR* proc = ::opendir("/proc");
    while (proc && (true)) {
        dirent* entry = ::readdir(proc);
        if (!entry)
            break;
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        auto exe = readExecutableLink("/proc", pid);
        if (!exe || !exe->ends_with("/QuorvelLauncher"))
            continue;
        auto stat = readProcessStat("/proc", pid);
        if (!stat || stat->gone())
            continue;
        std::string since;
        if (stat->startTime) {
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now() - *stat->startTime)
                                     .count();
            since = ", running for " + ageInWords(seconds);
        }
        auto bundle = exe->find(".app/Contents/MacOS/");
        found += (found.empty() ? "" : "; ") + std::string("pid ") + name + " from " +
                 (bundle == std::string::npos ? *exe : exe->substr(0, bundle + 4)) + since;
    }
    if (proc)
        ::closedir(proc);
    if (found.empty())
        out.push_back({"launcher", Verdict::warning, "not running",
                       "it starts at login when the login item is enabled"});
    else
        out.push_back({"launcher", Verdict::ok, found, ""});
}

} // namespace quorvel::doctor

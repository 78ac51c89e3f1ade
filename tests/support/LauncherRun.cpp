#include "support/LauncherRun.h"

#include "support/HostBundle.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

namespace quorvel::test {

std::unique_ptr<ChildProcess>
startLauncher(const std::filesystem::path& bundle, const std::filesystem::path& home,
              const std::filesystem::path& dataHome, const std::filesystem::path& logFile,
              std::map<std::string, std::string> environment, const StartGate* gate) {
    ChildProcess::Options options;
    options.gate = gate;
    options.environment = std::move(environment);
    options.environment.insert(
        {{"HOME", home.string()}, {"XDG_DATA_HOME", dataHome.string()}, {"QUORVEL_LOG", "stderr"}});
    options.outputFile = logFile.string();
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{launcherExecutable(bundle).string()}, options);
}

std::vector<std::string> launcherRecords(const std::filesystem::path& logFile,
                                         const std::string& category) {
    std::vector<std::string> records;
    std::ifstream in(logFile);
    std::string line;
    const std::string tag = " com.quorvel.desktop " + category + " ";
    while (std::getline(in, line)) {
        auto at = line.find(tag);
        if (at == std::string::npos)
            continue;
        auto colon = line.find(": ", at);
        if (colon != std::string::npos)
            records.push_back(line.substr(colon + 2));
    }
    return records;
}

void endLauncherRun(std::unique_ptr<ChildProcess>& launcher, const std::filesystem::path& folder) {
    std::vector<std::unique_ptr<ChildProcess>> launchers;
    launchers.push_back(std::move(launcher));
    endLauncherRuns(launchers, folder);
}

void endLauncherRuns(std::vector<std::unique_ptr<ChildProcess>>& launchers,
                     const std::filesystem::path& folder) {
    std::vector<pid_t> alive;
    for (auto& launcher : launchers) {
        if (launcher && launcher->running())
            alive.push_back(launcher->pid());
    }
    if (!alive.empty()) {
        auto others = processesRunningBelow(folder);
        std::erase_if(others, [&](pid_t pid) {
            return std::find(alive.begin(), alive.end(), pid) != alive.end();
        });
        for (pid_t pid : others)
            ::kill(pid, SIGKILL);
        waitUntil([&] {
            return std::none_of(others.begin(), others.end(), [](pid_t pid) {
                return std::filesystem::exists("/proc/" + std::to_string(pid));
            });
        });
        // All at once, well within the relaunch delay that the host apps' deaths started.
        for (auto& launcher : launchers) {
            if (launcher)
                launcher->signal(SIGTERM);
        }
    }
    launchers.clear();
    killProcessesRunningBelow(folder);
}

} // namespace quorvel::test

#pragma once

#include "support/ChildProcess.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::test {

// Starts the bundle's launcher as a user's session does, with HOME and XDG_DATA_HOME in a test
// folder and its log on standard error (QUORVEL_LOG=stderr) appended to logFile.
std::unique_ptr<ChildProcess>
startLauncher(const std::filesystem::path& bundle, const std::filesystem::path& home,
              const std::filesystem::path& dataHome, const std::filesystem::path& logFile,
              std::map<std::string, std::string> environment = {}, const StartGate* gate = nullptr);

// The launcher's records of one log category in the log file, without the prefix
// ("QuorvelLauncher[pid] subsystem category level: ").
std::vector<std::string> launcherRecords(const std::filesystem::path& logFile,
                                         const std::string& category = "LoginLauncher");

// Ends a test's launcher run: the host apps below the folder first, while the launcher that
// started them is alive to reap them (killed after it, they would be left as zombies of an init
// that may not reap), then the launcher, then anything else still running from below the folder.
void endLauncherRun(std::unique_ptr<ChildProcess>& launcher, const std::filesystem::path& folder);
// The same for several launchers of one folder.
void endLauncherRuns(std::vector<std::unique_ptr<ChildProcess>>& launchers,
                     const std::filesystem::path& folder);

} // namespace quorvel::test

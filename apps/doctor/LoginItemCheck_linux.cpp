#include "DoctorCheck.h"
#include "login/AutostartEntry.h"
#include "login/LoginItemService.h"
#include "login/XdgAutostartLoginItemService.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace quorvel::doctor {

// Reports the autostart entry in the login-item service's four states, read from the file only.
void checkLoginItem(DoctorChecks& out) {
    DoctorCheck check{"login item", Verdict::ok, "", ""};
    auto directory = userAutostartDirectory();
    if (!directory) {
        out.push_back({"login item", Verdict::problem, "no configuration folder (HOME unset)",
                       "set HOME or XDG_CONFIG_HOME"});
        return;
    }
    const std::string path =
        directory->appendingPathComponent(std::string(launcherLoginItemIdentifier) + ".desktop")
            .path;
    std::ifstream file(path);
    if (!file) {
        out.push_back({"login item", Verdict::warning, "not_registered: no entry at " + path,
                       "turn on \"open at login\" in the app"});
        return;
    }
    std::stringstream text;
    text << file.rdbuf();
    auto entry = parseAutostartEntry(text.str());
    if (!entry) {
        out.push_back({"login item", Verdict::problem,
                       "not_registered: " + path + " is no desktop entry",
                       "delete it and turn on \"open at login\" again"});
        return;
    }
    const std::string program = entry->command.empty() ? "" : entry->command.front();
    const bool runnable = !program.empty() && ::access(program.c_str(), X_OK) == 0;
    if (entry->disabled) {
        check.verdict = Verdict::warning;
        check.detail = "requires_approval: " + path + " is switched off by the user";
        check.advice = "switch it on in the desktop's startup-applications settings";
    } else if (!runnable) {
        check.verdict = Verdict::problem;
        check.detail = "not_found: " + path + " runs " + (program.empty() ? "nothing" : program) +
                       ", which is not an executable launcher";
        check.advice = "reinstall the app or turn \"open at login\" off and on";
    } else {
        check.detail = "enabled: " + path + " runs " + program;
    }
    out.push_back(check);
}

} // namespace quorvel::doctor

#pragma once

#include <string>
#include <vector>

namespace quorvel::doctor {

enum class Verdict { ok, warning, problem };

// One line of the report: what was looked at, how it stands, and what to do about it.
struct DoctorCheck {
    std::string name;
    Verdict verdict = Verdict::ok;
    std::string detail;
    std::string advice; // empty when there is nothing to do
    bool operator==(const DoctorCheck&) const = default;
};

using DoctorChecks = std::vector<DoctorCheck>;

// Each adds its lines to the report. None writes, unlocks or prompts.
void checkSessionBus(DoctorChecks& out);
void checkTray(DoctorChecks& out);
void checkKeyring(DoctorChecks& out);
void checkLogind(DoctorChecks& out);
void checkLoginItem(DoctorChecks& out);
void checkCallbackScheme(DoctorChecks& out);
void checkSupportFolder(DoctorChecks& out);
void checkLauncher(DoctorChecks& out);

} // namespace quorvel::doctor

#pragma once

#include "DoctorCheck.h"

#include <string>
#include <string_view>

namespace quorvel::doctor {

std::string_view verdictName(Verdict verdict);
// "ok       name: detail — advice", one line per check.
std::string textReport(const DoctorChecks& checks);
// {"checks":[{"name","verdict","detail","advice"}...],"problems":N,"warnings":N}
std::string jsonReport(const DoctorChecks& checks);
// 0 when no check found a problem, else 1.
int exitStatus(const DoctorChecks& checks);
// A file's age in words ("3 s", "2 h 5 min", "4 d").
std::string ageInWords(long long seconds);

} // namespace quorvel::doctor

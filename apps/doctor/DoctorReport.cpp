#include "DoctorReport.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace quorvel::doctor {

std::string_view verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::ok:
        return "ok";
    case Verdict::warning:
        return "warning";
    case Verdict::problem:
        return "problem";
    }
    return "problem";
}

std::string textReport(const DoctorChecks& checks) {
    std::string text;
    for (const auto& check : checks) {
        std::string verdict(verdictName(check.verdict));
        verdict.resize(8, ' ');
        text += verdict + check.name + ": " + check.detail;
        if (!check.advice.empty())
            text += " -> " + check.advice;
        text += '\n';
    }
    return text;
}

std::string jsonReport(const DoctorChecks& checks) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& check : checks) {
        list.push_back({{"name", check.name},
                        {"verdict", verdictName(check.verdict)},
                        {"detail", check.detail},
                        {"advice", check.advice}});
    }
    auto count = [&](Verdict v) {
        return std::count_if(checks.begin(), checks.end(),
                             [&](const DoctorCheck& c) { return c.verdict == v; });
    };
    nlohmann::json document = {{"checks", list},
                               {"problems", count(Verdict::problem)},
                               {"warnings", count(Verdict::warning)}};
    // Details may quote file contents and names; never fail on bytes that are not UTF-8.
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int exitStatus(const DoctorChecks& checks) {
    return std::any_of(checks.begin(), checks.end(),
                       [](const DoctorCheck& c) { return c.verdict == Verdict::problem; })
               ? 1
               : 0;
}

std::string ageInWords(long long seconds) {
    if (seconds < 0)
        return "in the future";
    if (seconds < 60)
        return std::to_string(seconds) + " s";
    if (seconds < 3600)
        return std::to_string(seconds / 60) + " min";
    if (seconds < 86400)
        return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) +
               " min";
    return std::to_string(seconds / 86400) + " d";
}

} // namespace quorvel::doctor

#include "DoctorCheck.h"
#include "DoctorReport.h"
#include "platform/ApplicationSupport.h"

#include <ctime>
#include <dirent.h>
#include <string>
#include <sys/stat.h>

namespace quorvel::doctor {
namespace {

std::optional<long long> ageOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<long long>(std::time(nullptr) - info.st_mtime);
}

void fileLine(DoctorChecks& out, const std::string& name, const std::string& path,
              Verdict whenPresent, const std::string& advice) {
    if (auto age = ageOf(path))
        out.push_back({name, whenPresent, path + " is there, " + ageInWords(*age) + " old",
                       whenPresent == Verdict::ok ? "" : advice});
    else
        out.push_back({name, Verdict::ok, "none", ""});
}

} // namespace

void checkSupportFolder(DoctorChecks& out) {
    auto folder = quorvelApplicationSupportFolder();
    if (!folder) {
        out.push_back({"support folder", Verdict::problem,
                       "no application-support folder (HOME unset)", "set HOME or XDG_DATA_HOME"});
        return;
    }
    const std::string root = folder->path;
    if (!ageOf(root)) {
        out.push_back({"support folder", Verdict::ok, root + " does not exist yet", ""});
        return;
    }
    out.push_back({"support folder", Verdict::ok, root, ""});
    fileLine(out, "maintenance marker", root + "/maintenance.stop", Verdict::warning,
             "the launcher will not open the app while it is there; an installer removes its own");
    fileLine(out, "proof lease", root + "/launcher-proof-lease.json", Verdict::ok, "");
    fileLine(out, "update receipt", root + "/updates/receipt.json", Verdict::ok, "");
    fileLine(out, "update hold marker", root + "/updates/QUORVEL_UPDATE_HOLD", Verdict::warning,
             "updates to the version it names are held back after a rollback");

    // Hidden siblings that a killed launcher or recovery leaves: the next launcher start tidies
    // them; one that is old says none has run since.
    DoctorCheck leftovers{"crash leftovers", Verdict::ok, "none", ""};
    std::string found;
    for (const std::string& dir : {root, root + "/updates"}) {
        DIR* handle = ::opendir(dir.c_str());
        if (!handle)
            continue;
        while (dirent* entry = ::readdir(handle)) {
            const std::string name = entry->d_name;
            if (name.find(".claimed.") != std::string::npos ||
                name.find(".restore.") != std::string::npos ||
                name.find(".failed.") != std::string::npos) {
                auto age = ageOf(dir + "/" + name);
                found += (found.empty() ? "" : ", ") + dir + "/" + name + " (" +
                         ageInWords(age.value_or(0)) + " old)";
            }
        }
        ::closedir(handle);
    }
    if (!found.empty()) {
        leftovers.verdict = Verdict::warning;
        leftovers.detail = found;
        leftovers.advice = "start the launcher once to tidy them; do not delete them while it runs";
    }
    out.push_back(leftovers);
}

} // namespace quorvel::doctor

#pragma once

// Shared helpers of the proof suites: a valid lease as JSON, directory listings and file bytes.

#include "base/Bytes.h"
#include "base/InternetDateTime.h"
#include "base/Json.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>

namespace quorvel::test {

// 2026-01-31T12:00:00Z, the moment every lease test calls "now".
inline TimePoint leaseTestNow() {
    return *parseInternetDateTime("2026-01-31T12:00:00Z");
}

// A lease that is valid at leaseTestNow() (issued 10 s before, expiring 290 s after) for the
// given pid and executable, with both logs in logDirectory.
inline Json validLeaseJson(std::int32_t pid, const std::string& executablePath,
                           const std::string& logDirectory) {
    return Json{
        {"schemaVersion", 3},
        {"proofRunId", "run-2026.01_a"},
        {"attestationLogPath", logDirectory + "/attestation.jsonl"},
        {"snapshotLogPath", logDirectory + "/snapshot.jsonl"},
        {"executablePath", executablePath},
        {"appPid", pid},
        {"issuedAt", "2026-01-31T11:59:50Z"},
        {"expiresAt", "2026-01-31T12:04:50Z"},
    };
}

inline Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Every name in a directory (hidden ones included).
inline std::set<std::string> directoryNames(const std::filesystem::path& directory) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ignored)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

inline std::size_t countNamesContaining(const std::filesystem::path& directory,
                                        const std::string& infix) {
    std::size_t count = 0;
    for (const auto& name : directoryNames(directory)) {
        if (name.find(infix) != std::string::npos)
            ++count;
    }
    return count;
}

inline bool pathExists(const std::filesystem::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

} // namespace quorvel::test

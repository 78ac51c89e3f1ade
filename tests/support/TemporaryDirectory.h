#pragma once

#include <filesystem>
#include <string>

namespace quorvel::test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end of scope.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string string() const { return path_.string(); }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string readFileText(const std::filesystem::path& path);
void writeFileText(const std::filesystem::path& path, const std::string& text);

} // namespace quorvel::test

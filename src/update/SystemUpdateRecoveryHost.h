#pragma once

#include "update/UpdateRecoveryHost.h"
#include "update/UpdateRecoveryLimits.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// The production host on Linux: bundles are checked by "quorvel-codesign verify --deep --strict
// BUNDLE", snapshot archives are unpacked by "bsdtar -x -f ARCHIVE -C DIR", and every command is
// ended after the command time limit.
class SystemUpdateRecoveryHost final : public UpdateRecoveryHost {
public:
    struct Options {
        // Tests shorten it; what ships keeps the fixed limit.
        std::chrono::milliseconds commandTimeLimit = UpdateRecoveryLimits::commandTimeLimit;
        // Absent: the tool is looked for beside this process's executable, then on PATH.
        std::optional<FileURL> codesignTool;
        // Extra options placed before the bundle path (tests name their own trusted key here).
        std::vector<std::string> verifyOptions;
        FileURL archiveTool = FileURL::fromPath("/usr/bin/bsdtar");
    };

    SystemUpdateRecoveryHost() = default;
    explicit SystemUpdateRecoveryHost(Options options) : options_(std::move(options)) {}

    std::optional<Bytes> readFile(const FileURL& file, std::size_t limit) override;
    UpdateBundleCondition condition(const FileURL& bundle) override;
    UpdateRecoveryResult<FileURL> makeScratchDirectory(const FileURL& bundle) override;
    UpdateRecoveryResult<std::vector<FileURL>> extractArchive(const FileURL& archive,
                                                              const FileURL& directory) override;
    UpdateRecoveryResult<void> moveItem(const FileURL& source, const FileURL& destination) override;
    void removeItem(const FileURL& item) override;
    UpdateRecoveryResult<void> write(const Bytes& bytes, const FileURL& file) override;

    const Options& options() const { return options_; }

    static constexpr const char* codesignToolName = "quorvel-codesign";
    // "quorvel-codesign" beside this process's executable when it is there and executable, else
    // the first one in an absolute directory of PATH; nothing when neither exists.
    static std::optional<FileURL> locateCodesignTool();
    // The same search from a given folder and PATH value.
    static std::optional<FileURL> locateCodesignTool(const FileURL& executableFolder,
                                                     std::string_view searchPath);

private:
    Options options_;
};

} // namespace quorvel

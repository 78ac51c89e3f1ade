#pragma once

#include "update/UpdateRecoveryHost.h"
#include "update/UpdateRecoveryLimits.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// The production host on Linux. Bundles are checked by our own code, in a child forked from this
// process, against the trusted key compiled into it (deep and strict), so that the answer does
// not depend on any tool on disk, least of all one inside a bundle that recovery may have
// replaced. Snapshot archives are listed and unpacked by "bsdtar", ended after the command time
// limit and whenever the launcher ends.
class SystemUpdateRecoveryHost final : public UpdateRecoveryHost {
public:
    struct Options {
        // Tests shorten it; what ships keeps the fixed limit. Bounds each bundle check as well.
        std::chrono::milliseconds commandTimeLimit = UpdateRecoveryLimits::commandTimeLimit;
        // PEM of the Ed25519 public key bundles must be signed with; absent: the built-in key.
        std::optional<std::string> trustedKeyPem;
        FileURL archiveTool = FileURL::fromPath("/usr/bin/bsdtar");
    };

    SystemUpdateRecoveryHost() = default;
    explicit SystemUpdateRecoveryHost(Options options) : options_(std::move(options)) {}
    SystemUpdateRecoveryHost(const SystemUpdateRecoveryHost&) = delete;
    SystemUpdateRecoveryHost& operator=(const SystemUpdateRecoveryHost&) = delete;
    ~SystemUpdateRecoveryHost() override;

    std::optional<Bytes> readFile(const FileURL& file, std::size_t limit) override;
    UpdateBundleCondition condition(const FileURL& bundle) override;
    UpdateRecoveryResult<FileURL> makeScratchDirectory(const FileURL& bundle) override;
    UpdateRecoveryResult<std::vector<FileURL>> extractArchive(const FileURL& archive,
                                                              const FileURL& directory,
                                                              std::uint64_t sizeLimit) override;
    std::uint64_t diskUsage(const FileURL& item) override;
    UpdateRecoveryResult<void> moveItem(const FileURL& source, const FileURL& destination) override;
    UpdateRecoveryResult<void> exchangeItems(const FileURL& first, const FileURL& second) override;
    std::vector<FileURL> removeStaleSiblings(const FileURL& bundle) override;
    void removeItem(const FileURL& item) override;
    UpdateRecoveryResult<void> write(const Bytes& bytes, const FileURL& file) override;

    const Options& options() const { return options_; }

private:
    Options options_;
    // Scratch directories this recovery made, each with the open descriptor whose exclusive lock
    // tells other recoveries that it is in use; released when the directory is removed.
    std::map<std::string, int> heldScratch_;
};

} // namespace quorvel

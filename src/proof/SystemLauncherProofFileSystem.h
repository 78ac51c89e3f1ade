#pragma once

#include "proof/LauncherProofFileSystem.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <sys/types.h>
#include <system_error>

namespace quorvel {

// The two moments of an atomic replacement at which the fault hook is asked, in this order.
enum class LauncherProofAtomicReplaceStage {
    stagedWrite, // every byte is in the staged file; its mode is not yet set, it is not yet synced
    stagedSync,  // the staged file is synced; the rename onto the target comes next
};

// Asked at each stage of an atomic replacement; an error aborts the replacement there. It may be
// called from any thread, so whatever it captures must be safe to use from any thread.
using LauncherProofAtomicReplaceFault =
    std::function<std::optional<std::error_code>(LauncherProofAtomicReplaceStage)>;

// Device, inode and generation of a file: tells the file we created from one that somebody else
// put at the same path later (an inode number may be reused, its generation is not).
struct LauncherProofFileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::optional<std::uint32_t> generation; // absent where the file system keeps none

    bool operator==(const LauncherProofFileIdentity&) const = default;
};

// The system calls of a replacement whose failures matter most and are hardest to provoke on a
// healthy disk. They are replaceable so that tests can interrupt a write, fail a sync or refuse
// the in-kernel copy; what ships always uses ::write, ::fsync and ::copy_file_range.
struct LauncherProofSystemCalls {
    std::function<ssize_t(int fd, const void* bytes, std::size_t count)> write;
    std::function<int(int fd)> fsync;
    std::function<ssize_t(int source, off_t* sourceOffset, int destination, std::size_t count)>
        copyFileRange;

    static LauncherProofSystemCalls standard();
};

// The proof files on the local POSIX file system.
//
// Every target P has a lock file P + ".lock" (created on first use with mode 0600, never written,
// never removed) on which an exclusive flock serialises every process that touches P. Replacements
// go through a hidden staged file ".N.staged.<UUID>" beside P; claims move P to a hidden claimed
// file ".N.claimed.<UUID>" beside it. Both lie in P's directory, so every rename is atomic.
//
// A claimant holds an exclusive flock on the claimed file itself for as long as the claim lasts
// (until it is consumed or put back): the lock goes with the claimant's death, which is how a
// claim abandoned by a killed launcher is told from one that a live launcher holds.
class SystemLauncherProofFileSystem final : public LauncherProofFileSystem {
public:
    // The most an append may leave in the file, and the largest record it takes: 16 MiB.
    static constexpr std::int64_t appendLimit = 0x1000000;

    LauncherProofAtomicReplaceFault atomicReplaceFault = [](LauncherProofAtomicReplaceStage) {
        return std::optional<std::error_code>();
    };
    LauncherProofSystemCalls systemCalls = LauncherProofSystemCalls::standard();

    VoidResult createDirectory(const FileURL& at) const override;
    Expected<Bytes, std::error_code> readData(const FileURL& at,
                                              std::int64_t maxBytes) const override;
    VoidResult append(const Bytes& data, const FileURL& to) const override;
    Expected<LauncherProofFileClaim, std::error_code>
    claimItem(const FileURL& at, std::int64_t maxBytes) const override;
    void restoreClaim(const LauncherProofFileClaim& claim, const FileURL& to) const override;
    void consumeClaim(const LauncherProofFileClaim& claim) const override;
    std::vector<LauncherProofRecoveredClaim>
    recoverAbandonedClaims(const FileURL& target, std::int64_t maxBytes,
                           const AbandonedClaimDecision& decide) const override;

    // Runs body while holding the exclusive lock of target (creating target's directory and lock
    // file first). Not re-entrant: taking the same lock again in the same process blocks forever.
    VoidResult withExclusiveLeaseLock(const FileURL& target,
                                      const std::function<VoidResult()>& body) const;

    // Replaces the target's content by data: staged write, fchmod 0600, fsync, rename, then a
    // sync of the directory so that the rename itself is durable. The caller holds the target's
    // lock. The target holds either its old or its new content at every moment. Success once the
    // rename is done: a failed sync of the directory after it is logged, not reported.
    VoidResult replaceAtomicallyUnderLock(const Bytes& data, const FileURL& target) const;

    // Unlinks path only if it is still the file with the expected identity; reports nothing.
    static void removeIfIdentityMatches(const FileURL& path,
                                        const LauncherProofFileIdentity& expected);

    // Hidden sibling names beside target: "." + name + infix + a fresh upper-case UUID.
    static FileURL stagedURL(const FileURL& target);
    static FileURL claimedURL(const FileURL& target);
    static FileURL lockURL(const FileURL& target);

private:
    // The replacement with the staged content produced by writeContent on the staged descriptor.
    using ContentWriter = std::function<std::optional<std::error_code>(int stagedFd)>;
    VoidResult replaceAtomicallyUnderLock(const ContentWriter& writeContent,
                                          const FileURL& target) const;
    std::optional<std::error_code> writeAll(int fd, std::span<const std::uint8_t> bytes) const;
};

} // namespace quorvel

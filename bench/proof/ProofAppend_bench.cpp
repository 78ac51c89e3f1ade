// The cost of appending one attestation line to a log of 1 KiB, 1 MiB and 16 MiB, next to its
// floor: a bare write of the same bytes to a fresh file, fsync, rename onto the log and fsync of
// the directory. The difference is what the lock, the read of the old log and the checks cost.
//
// The files go to $QUORVEL_BENCH_DIR, else $TMPDIR, else /tmp; put it on the disk you care about.
// Before each measured step the log is brought back to its size and synced, outside the timing.

#include "proof/LauncherRelaunchAttestation.h"
#include "proof/SystemLauncherProofFileSystem.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

using namespace quorvel;

std::string benchDirectory() {
    for (const char* name : {"QUORVEL_BENCH_DIR", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return "/tmp";
}

class Scratch {
public:
    Scratch() {
        std::string pattern = benchDirectory() + "/quorvel-proof-bench-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~Scratch() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

Bytes attestationLine() {
    LauncherRelaunchAttestation attestation;
    attestation.proofRunId = "benchmark-run-0001";
    attestation.killedPid = 500;
    attestation.replacementPid = 600;
    attestation.launcherPid = 42;
    attestation.executableSha256 = std::string(64, 'e');
    attestation.observedAt = "2026-01-31T12:00:00.123Z";
    return bytesOf(*attestation.jsonLine());
}

// A log of exactly `size` bytes made of newline-terminated lines.
Bytes logOfSize(std::size_t size) {
    Bytes log(size, 'x');
    for (std::size_t i = 127; i < size; i += 128)
        log[i] = '\n';
    log.back() = '\n';
    return log;
}

void writeAllOrThrow(int fd, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        ssize_t written = ::write(fd, bytes, count);
        if (written <= 0)
            throw std::runtime_error("write failed");
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

// Puts the log back to exactly `content` on disk, so that every step starts alike.
void resetLog(const std::filesystem::path& path, const Bytes& content) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("open failed");
    writeAllOrThrow(fd, content.data(), content.size());
    ::fsync(fd);
    ::close(fd);
}

std::size_t logSize(std::int64_t requested, std::size_t lineSize) {
    // The largest log leaves room for the line within the 16 MiB cap.
    auto size = static_cast<std::size_t>(requested);
    return size >= static_cast<std::size_t>(SystemLauncherProofFileSystem::appendLimit)
               ? size - lineSize
               : size;
}

void BM_Append(benchmark::State& state) {
    Scratch scratch;
    const Bytes line = attestationLine();
    const Bytes base = logOfSize(logSize(state.range(0), line.size()));
    const auto log = scratch.path() / "attestation.jsonl";
    const FileURL logURL = FileURL::fromPath(log.string());
    SystemLauncherProofFileSystem files;
    for (auto _ : state) {
        state.PauseTiming();
        resetLog(log, base);
        state.ResumeTiming();
        if (!files.append(line, logURL))
            state.SkipWithError("append failed");
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(base.size() + line.size()));
}

void BM_Floor(benchmark::State& state) {
    Scratch scratch;
    const Bytes line = attestationLine();
    Bytes content = logOfSize(logSize(state.range(0), line.size()));
    const Bytes base = content;
    content.insert(content.end(), line.begin(), line.end());
    const auto log = scratch.path() / "attestation.jsonl";
    const auto staged = scratch.path() / ".attestation.jsonl.staged";
    for (auto _ : state) {
        state.PauseTiming();
        resetLog(log, base);
        state.ResumeTiming();
        int fd = ::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        writeAllOrThrow(fd, content.data(), content.size());
        ::fsync(fd);
        ::rename(staged.c_str(), log.c_str());
        ::close(fd);
        int directory = ::open(scratch.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::fsync(directory);
        ::close(directory);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(content.size()));
}

void sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(1024)->Arg(1024 * 1024)->Arg(16 * 1024 * 1024);
    benchmark->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
}

BENCHMARK(BM_Append)->Apply(sizes);
BENCHMARK(BM_Floor)->Apply(sizes);

} // namespace

BENCHMARK_MAIN();

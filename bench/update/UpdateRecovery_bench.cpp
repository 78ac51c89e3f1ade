// Figures for update recovery on a realistic bundle: 200 files, about 50 MiB, signed.
//   RecoverIdle         recover(now) with no receipt and a healthy bundle (one deep, strict verify,
//                       in this process)
//   Sha256sumSameFiles  sha256sum over the same 200 files, as the yardstick for the idle check
//   OpensslDigest...    "openssl dgst -sha256" over them, a second yardstick
//   Rollback            recover(now) with a receipt "installing": verify, list and unpack the
//                       snapshot archive, verify the candidate, exchange, delete the old bundle
// Files are read from the page cache after the first round, for all three alike.

#include "base/InternetDateTime.h"
#include "base/Logger.h"
#include "base/SmallFile.h"
#include "codesign/BundleSignature.h"
#include "update/SystemUpdateRecoveryHost.h"
#include "update/UpdateCommand.h"
#include "update/UpdateRecovery.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

using namespace quorvel;
namespace fs = std::filesystem;

constexpr int fileCount = 200;
constexpr std::size_t totalBytes = 50u * 1024 * 1024;

struct World {
    fs::path root;
    fs::path bundle;
    fs::path updates;
    std::string publicKey;
    std::vector<std::string> files;
    std::shared_ptr<SystemUpdateRecoveryHost> host;
    std::unique_ptr<UpdateRecovery> recovery;

    static World& shared() {
        static World world;
        return world;
    }

    World() {
        char pattern[] = "/tmp/quorvel-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        bundle = root / "Applications/Quorvel.app";
        updates = root / "data/com.quorvel.desktop/updates";
        fs::create_directories(updates);
        std::string privateKey = (root / "key.pem").string();
        publicKey = (root / "key.pub").string();
        run("/usr/bin/openssl", {"genpkey", "-algorithm", "ed25519", "-out", privateKey});
        run("/usr/bin/openssl", {"pkey", "-in", privateKey, "-pubout", "-out", publicKey});

        // Ten large files and 190 smaller ones across a few folders, random (incompressible).
        std::mt19937_64 random(42);
        const std::size_t large = 2 * 1024 * 1024;
        const std::size_t small = (totalBytes - 10 * large) / (fileCount - 10);
        for (int i = 0; i < fileCount; ++i) {
            fs::path file = bundle / "Contents" /
                            (i < 10 ? "Frameworks" : "Resources/r" + std::to_string(i % 12)) /
                            ("file" + std::to_string(i) + ".bin");
            fs::create_directories(file.parent_path());
            std::vector<std::uint64_t> data((i < 10 ? large : small) / 8);
            for (auto& word : data)
                word = random();
            std::ofstream(file, std::ios::binary)
                .write(reinterpret_cast<const char*>(data.data()),
                       static_cast<std::streamsize>(data.size() * 8));
            files.push_back(file.string());
        }
        std::string error;
        codesign::Key key = codesign::loadPrivateKeyFile(privateKey, error);
        if (!key || !codesign::signBundle(bundle.string(), key.get(), error))
            std::abort();
        run("/usr/bin/bsdtar", {"-c", "-z", "-f", (updates / "snapshot.tar.gz").string(), "-C",
                                bundle.parent_path().string(), "Quorvel.app"});

        SystemUpdateRecoveryHost::Options options;
        auto pem = readSmallRegularFile(FileURL::fromPath(publicKey), 64 * 1024);
        if (!pem)
            std::abort();
        options.trustedKeyPem = pem->contents;
        host = std::make_shared<SystemUpdateRecoveryHost>(options);
        recovery = std::make_unique<UpdateRecovery>(
            UpdateRecoveryPaths{FileURL::fromPath(bundle.string()),
                                FileURL::fromPath(updates.string())},
            host);
        // The log sink stays quiet during the runs.
        setLogSink(std::make_shared<RecordingLogSink>());
    }

    ~World() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    static void run(const std::string& tool, const std::vector<std::string>& arguments) {
        if (!runUpdateCommand(FileURL::fromPath(tool), arguments, std::chrono::seconds(120))
                 .succeeded())
            std::abort();
    }

    void writeInstallingReceipt() const {
        std::ofstream(updates / "receipt.json")
            << R"({"schema":1,"from_version":"1.4.0","to_version":"1.5.0","artifact_sha256":"abc","snapshot_path":")"
            << (updates / "snapshot.tar.gz").string()
            << R"(","state":"installing","written_at":"w"})";
    }
};

void RecoverIdle(benchmark::State& state) {
    World& world = World::shared();
    fs::remove(world.updates / "receipt.json");
    for (auto _ : state) {
        auto outcome = world.recovery->recover(Clock::now());
        if (outcome.kind != UpdateRecoveryOutcome::Kind::idle)
            state.SkipWithError("not idle");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(totalBytes));
}
BENCHMARK(RecoverIdle)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void Sha256sumSameFiles(benchmark::State& state) {
    World& world = World::shared();
    for (auto _ : state) {
        if (!runUpdateCommand(FileURL::fromPath("/usr/bin/sha256sum"), world.files,
                              std::chrono::seconds(120))
                 .succeeded()) {
            state.SkipWithError("sha256sum failed");
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(totalBytes));
}
BENCHMARK(Sha256sumSameFiles)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

// A second yardstick: the same digests with OpenSSL's SHA-256, which the signing tool uses too.
void OpensslDigestSameFiles(benchmark::State& state) {
    World& world = World::shared();
    std::vector<std::string> arguments{"dgst", "-sha256"};
    arguments.insert(arguments.end(), world.files.begin(), world.files.end());
    for (auto _ : state) {
        if (!runUpdateCommand(FileURL::fromPath("/usr/bin/openssl"), arguments,
                              std::chrono::seconds(120))
                 .succeeded()) {
            state.SkipWithError("openssl failed");
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(totalBytes));
}
BENCHMARK(OpensslDigestSameFiles)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void Rollback(benchmark::State& state) {
    World& world = World::shared();
    for (auto _ : state) {
        state.PauseTiming();
        world.writeInstallingReceipt();
        state.ResumeTiming();
        auto outcome = world.recovery->recover(Clock::now());
        if (outcome.kind != UpdateRecoveryOutcome::Kind::rolledBack)
            state.SkipWithError("no rollback");
    }
    fs::remove(world.updates / "receipt.json");
}
BENCHMARK(Rollback)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();

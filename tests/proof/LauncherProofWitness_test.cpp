#include "ProofTestSupport.h"
#include "base/Sha256.h"
#include "proof/LauncherProofWitness.h"
#include "proof/LauncherRelaunchAttestation.h"
#include "proof/SystemLauncherProofFileSystem.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

using test::countNamesContaining;
using test::leaseTestNow;
using test::pathExists;
using test::readBytes;
using test::TemporaryDirectory;
using test::validLeaseJson;
using test::writeBytes;

// SHA-256 of "abc" (FIPS 180-4 example).
constexpr const char* abcDigest =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

class WitnessTest : public ::testing::Test {
protected:
    TemporaryDirectory directory;
    std::filesystem::path folder = directory / "com.quorvel.desktop";
    std::filesystem::path leasePath = folder / "launcher-proof-lease.json";
    std::filesystem::path logPath = directory / "attestation.jsonl";
    std::filesystem::path executablePath =
        directory / "Quorvel.app" / "Contents" / "MacOS" / "Quorvel";
    FileURL executable = FileURL::fromPath(executablePath.string());
    Bytes leaseBytes;
    TimePoint clock = leaseTestNow() + std::chrono::milliseconds(5123);
    LauncherProofWitness witness;

    void SetUp() override {
        std::filesystem::create_directories(executablePath.parent_path());
        std::filesystem::create_directories(folder);
        writeBytes(executablePath, bytesOf("abc"));
        leaseBytes = bytesOf(validLeaseJson(500, executable.path, directory.string()).dump());
        writeBytes(folder / "launcher-proof-lease.json", leaseBytes);
        witness.store = {FileURL::fromPath(leasePath.string()),
                         std::make_shared<SystemLauncherProofFileSystem>()};
        witness.now = [this] { return clock; };
        witness.launcherPid = [] { return 42; };
    }

    LauncherProofRelaunchClaim claimed() {
        auto claim = witness.claimAutomaticRelaunch(500, executable);
        EXPECT_TRUE(claim);
        return claim ? *claim : LauncherProofRelaunchClaim{};
    }

    void expectLeasePutBack() {
        EXPECT_EQ(readBytes(leasePath), leaseBytes);
        EXPECT_EQ(countNamesContaining(folder, ".claimed."), 0u);
    }
};

TEST_F(WitnessTest, AttestsTheRelaunchWithExactlyOneLineBehindTheLinesOfOthers) {
    writeBytes(logPath, bytesOf("{\"source\":\"harness\"}\n"));
    auto claim = claimed();
    EXPECT_FALSE(pathExists(leasePath));
    ASSERT_TRUE(witness.recordAutomaticRelaunch(500, 600, executable, claim));

    std::string expected =
        std::string("{\"event\":\"automatic_relaunch\",\"executableSha256\":\"") + abcDigest +
        "\",\"killedPid\":500,\"launcherPid\":42,\"observedAt\":\"2026-01-31T12:00:05.123Z\","
        "\"proofRunId\":\"run-2026.01_a\",\"replacementPid\":600,\"source\":\"quorvel_launcher\"}"
        "\n";
    EXPECT_EQ(test::readFileText(logPath), "{\"source\":\"harness\"}\n" + expected);
    EXPECT_FALSE(pathExists(leasePath));
    EXPECT_EQ(countNamesContaining(folder, ".claimed."), 0u);
    auto decoded = LauncherRelaunchAttestation::decode(expected);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->jsonLine(), expected);

    // The lease was used once: the next relaunch finds nothing to claim.
    EXPECT_FALSE(witness.claimAutomaticRelaunch(500, executable));
}

TEST_F(WitnessTest, EveryFailedCheckPutsTheLeaseBack) {
    struct Case {
        const char* name;
        std::int32_t killedPid = 500;
        std::int32_t replacementPid = 600;
        std::optional<FileURL> executable;
        std::function<void(LauncherProofWitness&)> change = [](LauncherProofWitness&) {};
    };
    std::filesystem::create_directory_symlink(directory / "Quorvel.app", directory / "Link.app");
    const std::vector<Case> cases = {
        {"replacement is the killed pid", 500, 500, executable},
        {"replacement pid 0", 500, 0, executable},
        {"negative replacement pid", 500, -7, executable},
        {"killed pid differs from the lease", 501, 600, executable},
        {"no executable", 500, 600, std::nullopt},
        {"executable through a link", 500, 600,
         FileURL::fromPath((directory / "Link.app" / "Contents" / "MacOS" / "Quorvel").string())},
        {"executable not canonical", 500, 600, FileURL::fromPath(executable.path + "/")},
        {"launcher pid is the replacement", 500, 600, executable,
         [](LauncherProofWitness& w) { w.launcherPid = [] { return 600; }; }},
        {"launcher pid is the killed pid", 500, 600, executable,
         [](LauncherProofWitness& w) { w.launcherPid = [] { return 500; }; }},
        {"launcher pid 0", 500, 600, executable,
         [](LauncherProofWitness& w) { w.launcherPid = [] { return 0; }; }},
        {"lease expired since the claim", 500, 600, executable,
         [](LauncherProofWitness& w) {
             w.now = [] {
                 return *parseInternetDateTime("2026-01-31T12:04:50Z") +
                        std::chrono::milliseconds(1);
             };
         }},
        {"digest unreadable", 500, 600, executable,
         [](LauncherProofWitness& w) {
             w.sha256 = [](const FileURL&) -> Expected<std::string, std::error_code> {
                 return unexpected(std::error_code(EACCES, std::generic_category()));
             };
         }},
        {"digest in upper case", 500, 600, executable,
         [](LauncherProofWitness& w) {
             w.sha256 = [](const FileURL&) -> Expected<std::string, std::error_code> {
                 return std::string(abcDigest).replace(0, 2, "BA");
             };
         }},
        {"digest of 63 digits", 500, 600, executable,
         [](LauncherProofWitness& w) {
             w.sha256 = [](const FileURL&) -> Expected<std::string, std::error_code> {
                 return std::string(abcDigest).substr(1);
             };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LauncherProofWitness saved = witness;
        auto claim = witness.claimAutomaticRelaunch(500, executable);
        ASSERT_TRUE(claim);
        c.change(witness);
        EXPECT_FALSE(
            witness.recordAutomaticRelaunch(c.killedPid, c.replacementPid, c.executable, *claim));
        expectLeasePutBack();
        EXPECT_FALSE(pathExists(logPath));
        witness = saved;
    }

    // The digest of an executable that is gone cannot be taken.
    auto claim = claimed();
    std::filesystem::remove(executablePath);
    EXPECT_FALSE(witness.recordAutomaticRelaunch(500, 600, executable, claim));
    expectLeasePutBack();
    EXPECT_FALSE(pathExists(logPath));
}

TEST_F(WitnessTest, FailedAppendPutsTheLeaseBackAndLeavesTheLog) {
    writeBytes(logPath, bytesOf("{\"torn\":"));
    EXPECT_FALSE(witness.recordAutomaticRelaunch(500, 600, executable, claimed()));
    expectLeasePutBack();
    EXPECT_EQ(readBytes(logPath), bytesOf("{\"torn\":"));

    // A newer lease written while the claim was held wins over the claimed one.
    auto claim = claimed();
    writeBytes(leasePath, bytesOf("{\"newer\":true}"));
    EXPECT_FALSE(witness.recordAutomaticRelaunch(500, 600, executable, claim));
    EXPECT_EQ(readBytes(leasePath), bytesOf("{\"newer\":true}"));
    EXPECT_EQ(countNamesContaining(folder, ".claimed."), 0u);
}

TEST_F(WitnessTest, ClaimNeedsAPidAndAnExecutable) {
    for (std::int32_t pid : {0, -1, -500}) {
        EXPECT_FALSE(witness.claimAutomaticRelaunch(pid, executable));
        EXPECT_EQ(readBytes(leasePath), leaseBytes);
    }
    EXPECT_FALSE(witness.claimAutomaticRelaunch(500, std::nullopt));
    EXPECT_EQ(readBytes(leasePath), leaseBytes);
    // A lease for another pid stays in place.
    EXPECT_FALSE(witness.claimAutomaticRelaunch(501, executable));
    expectLeasePutBack();

    auto claim = claimed();
    witness.restoreClaim(claim);
    expectLeasePutBack();
}

TEST_F(WitnessTest, TrackerFeedsTheWitnessOnce) {
    LauncherProofEventTracker tracker;
    std::optional<LauncherProofWitness> present = witness;
    EXPECT_FALSE(tracker.claimForRelaunch(present, executable));
    auto unused = claimed();
    EXPECT_FALSE(tracker.recordSuccessfulReplacement({"com.quorvel.desktop", 600, executable},
                                                     present, unused));
    witness.restoreClaim(unused);

    // A terminated process without an executable: the trusted parent executable is used.
    tracker.observedTermination = LauncherApplicationFact{"com.quorvel.desktop", 500, std::nullopt};
    EXPECT_FALSE(tracker.claimForRelaunch(present, std::nullopt));
    EXPECT_FALSE(tracker.claimForRelaunch(std::nullopt, executable));
    EXPECT_EQ(readBytes(leasePath), leaseBytes);
    std::optional<LauncherProofRelaunchClaim> claim;
    if (auto attempt = tracker.claimForRelaunch(present, executable))
        claim = *attempt;
    ASSERT_TRUE(claim);
    EXPECT_EQ(claim->lease.appPid, 500);
    EXPECT_TRUE(tracker.observedTermination); // claiming does not change the tracker

    EXPECT_TRUE(tracker.recordSuccessfulReplacement({"com.quorvel.desktop", 600, executable},
                                                    present, claim));
    EXPECT_FALSE(tracker.observedTermination);
    auto recorded = LauncherRelaunchAttestation::decode(test::readFileText(logPath));
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->killedPid, 500);
    EXPECT_EQ(recorded->replacementPid, 600);
    EXPECT_FALSE(tracker.recordSuccessfulReplacement({"com.quorvel.desktop", 600, executable},
                                                     present, claim));

    // Without a witness or without a claim nothing is recorded, and the termination is still
    // forgotten, so that a second call returns false at once.
    writeBytes(leasePath, leaseBytes);
    for (bool withWitness : {false, true}) {
        tracker.observedTermination =
            LauncherApplicationFact{"com.quorvel.desktop", 500, executable};
        std::optional<LauncherProofRelaunchClaim> held;
        if (!withWitness) {
            if (auto attempt = tracker.claimForRelaunch(present, std::nullopt))
                held = *attempt;
        }
        EXPECT_FALSE(tracker.recordSuccessfulReplacement(
            {"com.quorvel.desktop", 600, executable}, withWitness ? present : std::nullopt, held));
        EXPECT_FALSE(tracker.observedTermination);
        if (held)
            witness.restoreClaim(*held);
    }
    expectLeasePutBack();
    std::string log = test::readFileText(logPath);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
}

TEST(LauncherProofWitnessDigest, Sha256OfFile) {
    TemporaryDirectory directory;
    auto digestOf = [&](const char* name, const Bytes& bytes) {
        writeBytes(directory / name, bytes);
        auto digest =
            LauncherProofWitness::sha256OfFile(FileURL::fromPath((directory / name).string()));
        return digest ? *digest : "<error>";
    };
    EXPECT_EQ(digestOf("abc", bytesOf("abc")), abcDigest);
    EXPECT_EQ(digestOf("empty", {}),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // Longer than one read step: 1 MiB + 1 bytes of "a".
    EXPECT_EQ(digestOf("big", Bytes(1024 * 1024 + 1, 'a')),
              sha256Hex(std::string(1024 * 1024 + 1, 'a')));
    EXPECT_FALSE(
        LauncherProofWitness::sha256OfFile(FileURL::fromPath((directory / "missing").string())));
}

TEST(LauncherRelaunchAttestation, WireFormAndStrictReading) {
    LauncherRelaunchAttestation attestation;
    attestation.proofRunId = "\u00e9t\u00e9-1";
    attestation.killedPid = -1;
    attestation.replacementPid = 2147483647;
    attestation.launcherPid = 1;
    attestation.executableSha256 = abcDigest;
    attestation.observedAt = "2026-01-31T12:00:00.000Z";
    auto line = attestation.jsonLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(
        *line,
        std::string("{\"event\":\"automatic_relaunch\",\"executableSha256\":\"") + abcDigest +
            "\",\"killedPid\":-1,\"launcherPid\":1,\"observedAt\":\"2026-01-31T12:00:00.000Z\","
            "\"proofRunId\":\"\u00e9t\u00e9-1\",\"replacementPid\":2147483647,"
            "\"source\":\"quorvel_launcher\"}\n");
    EXPECT_EQ(LauncherRelaunchAttestation::decode(*line), attestation);

    Json object = *parseJson(*line);
    object.erase("launcherPid");
    EXPECT_FALSE(LauncherRelaunchAttestation::decode(object.dump()));
    object = *parseJson(*line);
    object["killedPid"] = "500";
    EXPECT_FALSE(LauncherRelaunchAttestation::decode(object.dump()));

    attestation.proofRunId = "\xff";
    EXPECT_FALSE(attestation.jsonLine());
}

} // namespace
} // namespace quorvel

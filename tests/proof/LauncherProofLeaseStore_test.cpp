#include "ProofTestSupport.h"
#include "proof/LauncherProofLeaseStore.h"
#include "proof/LauncherRelaunchAttestation.h"
#include "proof/SystemLauncherProofFileSystem.h"
#include "support/LogCapture.h"
#include "support/TemporaryDirectory.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace quorvel {
namespace {

using namespace std::string_literals;

using test::countNamesContaining;
using test::leaseTestNow;
using test::pathExists;
using test::readBytes;
using test::TemporaryDirectory;
using test::validLeaseJson;
using test::writeBytes;

// The outcomes of a claim as a harness sees them in the folder.
enum class Outcome { claimed, deleted, putBack };

std::ostream& operator<<(std::ostream& out, Outcome outcome) {
    return out << (outcome == Outcome::claimed   ? "claimed"
                   : outcome == Outcome::deleted ? "deleted"
                                                 : "put back");
}

class LeaseStoreTest : public ::testing::Test {
protected:
    static constexpr std::int32_t pid = 4242;

    TemporaryDirectory directory;
    std::filesystem::path folder = directory / "com.quorvel.desktop";
    std::filesystem::path leasePath = folder / "launcher-proof-lease.json";
    std::string executable = directory.string() + "/Quorvel.app/Contents/MacOS/Quorvel";
    LauncherProofLeaseStore store{FileURL::fromPath(leasePath.string()),
                                  std::make_shared<SystemLauncherProofFileSystem>()};

    void SetUp() override { std::filesystem::create_directories(folder); }

    Json lease() const { return validLeaseJson(pid, executable, directory.string()); }
    // Why the last claim() got nothing.
    std::optional<LauncherProofClaimMiss> miss;

    // Writes the bytes as the lease, claims it, and tells what became of it.
    Outcome claim(const Bytes& bytes, TimePoint now = leaseTestNow(), std::int32_t killedPid = pid,
                  std::optional<std::string> executablePath = std::nullopt,
                  std::optional<TimePoint> killedStartTime = std::nullopt) {
        writeBytes(leasePath, bytes);
        auto active = store.claimActiveLease(now, killedPid,
                                             FileURL::fromPath(executablePath.value_or(executable)),
                                             killedStartTime);
        miss = active ? std::nullopt : std::optional(active.error());
        if (active) {
            EXPECT_FALSE(pathExists(leasePath));
            EXPECT_EQ(readBytes(active->claim.claimedURL.path), bytes);
            EXPECT_EQ(active->claim.data, bytes);
            std::filesystem::remove(active->claim.claimedURL.path);
            return Outcome::claimed;
        }
        EXPECT_EQ(countNamesContaining(folder, ".claimed."), 0u);
        if (!pathExists(leasePath))
            return Outcome::deleted;
        EXPECT_EQ(readBytes(leasePath), bytes) << "a lease is put back byte for byte";
        std::filesystem::remove(leasePath);
        return Outcome::putBack;
    }

    Outcome claim(const Json& json, TimePoint now = leaseTestNow(), std::int32_t killedPid = pid) {
        return claim(bytesOf(json.dump(2)), now, killedPid);
    }

    Outcome claimWith(const char* key, const Json& value) {
        Json changed = lease();
        changed[key] = value;
        return claim(changed);
    }
};

TEST_F(LeaseStoreTest, ValidLeaseIsClaimedAndStaysHiddenBesideItsPath) {
    writeBytes(leasePath, bytesOf(lease().dump()));
    auto active = store.claimActiveLease(leaseTestNow(), pid, FileURL::fromPath(executable));
    ASSERT_TRUE(active);
    LauncherProofLease expected{3,
                                "run-2026.01_a",
                                directory.string() + "/attestation.jsonl",
                                directory.string() + "/snapshot.jsonl",
                                std::nullopt,
                                std::nullopt,
                                executable,
                                pid,
                                *parseInternetDateTime("2026-01-31T11:59:50Z"),
                                *parseInternetDateTime("2026-01-31T12:04:50Z")};
    EXPECT_EQ(active->lease, expected);
    EXPECT_FALSE(pathExists(leasePath));
    EXPECT_EQ(countNamesContaining(folder, ".launcher-proof-lease.json.claimed."), 1u);
    EXPECT_TRUE(pathExists(active->claim.claimedURL.path));

    // Nothing at the path any more: a second claim finds nothing and changes nothing.
    EXPECT_FALSE(store.claimActiveLease(leaseTestNow(), pid, FileURL::fromPath(executable)));
    EXPECT_TRUE(pathExists(active->claim.claimedURL.path));
}

TEST_F(LeaseStoreTest, ForeignLeaseIsPutBackByteForByte) {
    Bytes bytes = bytesOf(lease().dump(4));
    EXPECT_EQ(claim(bytes, leaseTestNow(), pid + 1), Outcome::putBack);
    EXPECT_EQ(
        claim(bytes, leaseTestNow(), pid, directory.string() + "/Other.app/Contents/MacOS/Quorvel"),
        Outcome::putBack);
    // The running executable must be named canonically too; a path that merely leads to the same
    // place is another executable.
    EXPECT_EQ(claim(bytes, leaseTestNow(), pid,
                    directory.string() + "/Quorvel.app/Contents/MacOS/./Quorvel"),
              Outcome::putBack);
    EXPECT_EQ(claim(bytes, leaseTestNow(), pid, executable + "/"), Outcome::putBack);
    EXPECT_EQ(miss, LauncherProofClaimMiss::missing);
    EXPECT_EQ(claim(bytes), Outcome::claimed);

    // The lease was issued at 11:59:50 in whole seconds. A process with its pid that started
    // more than a second later is another process that reused the pid.
    const TimePoint issued = *parseInternetDateTime("2026-01-31T11:59:50Z");
    const struct {
        std::chrono::milliseconds startedAfterIssue;
        Outcome outcome;
    } starts[] = {{std::chrono::milliseconds(-60000), Outcome::claimed},
                  {std::chrono::milliseconds(1000), Outcome::claimed},
                  {std::chrono::milliseconds(1001), Outcome::putBack},
                  {std::chrono::milliseconds(5000), Outcome::putBack}};
    for (const auto& start : starts) {
        SCOPED_TRACE(start.startedAfterIssue.count());
        EXPECT_EQ(claim(bytes, leaseTestNow(), pid, std::nullopt, issued + start.startedAfterIssue),
                  start.outcome);
        if (start.outcome == Outcome::putBack) {
            EXPECT_EQ(miss, LauncherProofClaimMiss::pidReused);
        }
    }
}

TEST_F(LeaseStoreTest, TimeWindow) {
    Json lifetime360 = lease();
    lifetime360["issuedAt"] = "2026-01-31T11:59:00Z";
    lifetime360["expiresAt"] = "2026-01-31T12:05:00Z";
    EXPECT_EQ(claim(lifetime360), Outcome::claimed);
    Json lifetime361 = lifetime360;
    lifetime361["expiresAt"] = "2026-01-31T12:05:01Z";
    EXPECT_EQ(claim(lifetime361), Outcome::deleted);

    TimePoint expiry = *parseInternetDateTime("2026-01-31T12:04:50Z");
    EXPECT_EQ(claim(lease(), expiry), Outcome::claimed);
    EXPECT_EQ(claim(lease(), expiry + std::chrono::seconds(1)), Outcome::deleted);
    // Expired is deleted even when it is about another process.
    EXPECT_EQ(claim(lease(), expiry + std::chrono::seconds(1), pid + 1), Outcome::deleted);

    TimePoint issued = *parseInternetDateTime("2026-01-31T11:59:50Z");
    EXPECT_EQ(claim(lease(), issued), Outcome::claimed);
    EXPECT_EQ(claim(lease(), issued - std::chrono::seconds(1)), Outcome::deleted);

    // An expiry beyond what the clock can count is not a far future: the lease is refused.
    Json farFuture = lease();
    farFuture["expiresAt"] = "9999-12-31T23:59:59Z";
    EXPECT_EQ(claim(farFuture), Outcome::deleted);

    // Zones other than Z are understood; fractions, bare dates and numbers are not times here.
    Json offset = lease();
    offset["issuedAt"] = "2026-01-31T13:59:50+02:00";
    EXPECT_EQ(claim(offset), Outcome::claimed);
    for (const Json& notATime :
         {Json("2026-01-31T11:59:50.5Z"), Json("2026-01-31"), Json("2026-01-31T11:59:50"),
          Json(1769860790), Json("2026-01-31t11:59:50z"), Json("0001-01-01T00:00:00Z")}) {
        EXPECT_EQ(claimWith("issuedAt", notATime), Outcome::deleted) << notATime;
    }
}

TEST_F(LeaseStoreTest, KeySetsAndTypes) {
    Json extra = lease();
    extra["note"] = "hello";
    EXPECT_EQ(claim(extra), Outcome::deleted);

    for (const char* key : {"schemaVersion", "proofRunId", "attestationLogPath", "snapshotLogPath",
                            "executablePath", "appPid", "issuedAt", "expiresAt"}) {
        Json missing = lease();
        missing.erase(key);
        EXPECT_EQ(claim(missing), Outcome::deleted) << key;
        EXPECT_EQ(claimWith(key, nullptr), Outcome::deleted) << key;
    }

    Json relay = lease();
    relay["localE2ERunId"] = "run-2026.01_a";
    relay["uploadFaultURL"] = "http://localhost:8080/fault";
    EXPECT_EQ(claim(relay), Outcome::claimed);
    for (const char* key : {"localE2ERunId", "uploadFaultURL"}) {
        Json onlyOne = relay;
        onlyOne.erase(key);
        EXPECT_EQ(claim(onlyOne), Outcome::deleted) << key;
        Json nulled = relay;
        nulled[key] = nullptr;
        EXPECT_EQ(claim(nulled), Outcome::deleted) << key;
    }
    Json otherRun = relay;
    otherRun["localE2ERunId"] = "run-2026.01_b";
    EXPECT_EQ(claim(otherRun), Outcome::deleted);

    const Json wrongValues = {{"schemaVersion", {2, 4, "3"}},
                              {"appPid", {std::to_string(pid), 2147483648LL, -2147483649LL, 42.5}},
                              {"proofRunId", {7}}};
    for (const auto& [key, values] : wrongValues.items()) {
        for (const auto& value : values)
            EXPECT_EQ(claimWith(key.c_str(), value), Outcome::deleted) << key << " " << value;
    }
    // Integers are read exactly from their text: a whole value in any spelling, never a fraction.
    const std::string document = lease().dump();
    for (const auto& [spelling, outcome] :
         std::vector<std::pair<std::string, Outcome>>{{"3.0", Outcome::claimed},
                                                      {"0.3e1", Outcome::claimed},
                                                      {"3.0000000000000001", Outcome::deleted},
                                                      {"3e-400", Outcome::deleted}}) {
        std::string changed = document;
        changed.replace(changed.find("\"schemaVersion\":3") + 16, 1, spelling);
        EXPECT_EQ(claim(bytesOf(changed)), outcome) << spelling;
    }
    for (const char* text :
         {"", "{", "[]", "3", "null", "\"lease\"", "{\"schemaVersion\":3} trailing"}) {
        EXPECT_EQ(claim(bytesOf(text)), Outcome::deleted) << text;
    }
}

TEST_F(LeaseStoreTest, SizeCap) {
    Bytes bytes = bytesOf(lease().dump());
    Bytes atCap = bytes;
    atCap.resize(16384, ' ');
    EXPECT_EQ(claim(atCap), Outcome::claimed);
    Bytes aboveCap = bytes;
    aboveCap.resize(16385, ' ');
    EXPECT_EQ(claim(aboveCap), Outcome::deleted);
}

TEST_F(LeaseStoreTest, LogPaths) {
    const std::string base = directory.string();
    for (const std::string& refused :
         {base + "/../attestation.jsonl", base + "/logs/../attestation.jsonl",
          base + "/./attestation.jsonl", base + "//attestation.jsonl", base + "/attestation.jsonl/",
          std::string("attestation.jsonl"), base + "/attestation.JSONL", base + "/attestation.json",
          base + "/.jsonl", std::string("/"), base + "/attest\0ation.jsonl"s,
          base + "/snapshot.jsonl"}) {
        EXPECT_EQ(claimWith("attestationLogPath", refused), Outcome::deleted) << refused;
    }
    EXPECT_EQ(claimWith("snapshotLogPath", base + "/snapshot"), Outcome::deleted);

    std::string longest = "/" + std::string(4096 - 1 - 6, 'a') + ".jsonl";
    ASSERT_EQ(longest.size(), 4096u);
    EXPECT_EQ(LauncherProofLeaseStore::validLogURL(longest), FileURL::fromPath(longest));
    EXPECT_FALSE(LauncherProofLeaseStore::validLogURL("/a" + longest));
    EXPECT_EQ(LauncherProofLeaseStore::validLogURL("/x.jsonl"), FileURL::fromPath("/x.jsonl"));
}

TEST_F(LeaseStoreTest, RunIds) {
    EXPECT_EQ(claimWith("proofRunId", std::string(160, 'a')), Outcome::claimed);
    EXPECT_EQ(claimWith("proofRunId", std::string(161, 'a')), Outcome::deleted);
    for (const std::string& refused :
         {""s, "run/1"s, "run 1"s, "run+1"s, "run\t1"s, "run\0001"s, "run\u2603"s}) {
        EXPECT_EQ(claimWith("proofRunId", refused), Outcome::deleted) << refused;
    }

    // Letters, marks and numbers of any script count; the length is counted in UTF-8 bytes.
    for (const char* accepted : {"Lauf-\u00dcberpr\u00fcfung_3.1", "\u6d4b\u8bd5\u0663",
                                 "e\u0301\u20dd", "\u2167\u00bd", "\u01c5x"}) {
        EXPECT_TRUE(LauncherProofLeaseStore::validRunId(accepted)) << accepted;
    }
    std::string twoByteLetters;
    for (int i = 0; i < 80; ++i)
        twoByteLetters += "\u00e9";
    EXPECT_TRUE(LauncherProofLeaseStore::validRunId(twoByteLetters));
    EXPECT_FALSE(LauncherProofLeaseStore::validRunId(twoByteLetters + "a"));
    EXPECT_FALSE(LauncherProofLeaseStore::validRunId("\xc3"));          // truncated UTF-8
    EXPECT_FALSE(LauncherProofLeaseStore::validRunId("\xed\xa0\x80"));  // a surrogate
    EXPECT_FALSE(LauncherProofLeaseStore::validRunId("run\U0001F600")); // a symbol, not a letter
}

TEST_F(LeaseStoreTest, FaultControllerURLs) {
    auto relay = [&](const std::string& url) {
        Json json = lease();
        json["localE2ERunId"] = json["proofRunId"];
        json["uploadFaultURL"] = url;
        return claim(json);
    };
    for (const char* accepted : {"http://localhost:8080/fault", "http://127.0.0.1:1/fault",
                                 "http://LocalHost:65535/fault"}) {
        EXPECT_EQ(relay(accepted), Outcome::claimed) << accepted;
    }
    std::istringstream refused(
        "https://localhost:8080/fault HTTP://localhost:8080/fault http://localhost:8080/fault? "
        "http://localhost:8080/fault?x=1 http://localhost:8080/fault# "
        "http://localhost:8080/fault/ http://localhost:8080/Fault http://localhost:8080/%66ault "
        "http://localhost:0/fault http://localhost:65536/fault http://localhost:08080/fault "
        "http://localhost:/fault http://localhost/fault http://[::1]:8080/fault "
        "http://user@localhost:8080/fault http://user:pw@localhost:8080/fault "
        "http://@localhost:8080/fault http://example.com:8080/fault http://127.0.0.2:8080/fault "
        "http:/fault /fault");
    for (std::string url; refused >> url;) {
        EXPECT_EQ(relay(url), Outcome::deleted) << url;
        EXPECT_FALSE(LauncherProofLeaseStore::validFaultControllerURL(url)) << url;
    }
    EXPECT_EQ(relay("http://localhost:8080/fault "), Outcome::deleted);
    std::string padded = "http://localhost:8080/fault";
    EXPECT_FALSE(LauncherProofLeaseStore::validFaultControllerURL(padded + std::string(2048, ' ')));
}

TEST_F(LeaseStoreTest, ExecutablePaths) {
    for (const std::string& refused :
         {std::string("Quorvel"), std::string("/"), std::string(""),
          directory.string() + "/Quorvel.app/Contents/MacOS/../MacOS/Quorvel",
          directory.string() + "/Quorvel.app/Contents/MacOS/Quorvel/"}) {
        EXPECT_EQ(claimWith("executablePath", refused), Outcome::deleted) << refused;
    }
}

TEST_F(LeaseStoreTest, UnreadableLeasesAndMissingStore) {
    // A symbolic link at the lease path is destroyed, its target is not.
    auto elsewhere = directory / "elsewhere.json";
    writeBytes(elsewhere, bytesOf(lease().dump()));
    std::filesystem::create_symlink(elsewhere, leasePath);
    EXPECT_FALSE(store.claimActiveLease(leaseTestNow(), pid, FileURL::fromPath(executable)));
    EXPECT_FALSE(pathExists(leasePath));
    EXPECT_TRUE(pathExists(elsewhere));

    LauncherProofLeaseStore withoutFiles{store.leaseURL, nullptr};
    writeBytes(leasePath, bytesOf(lease().dump()));
    EXPECT_FALSE(withoutFiles.claimActiveLease(leaseTestNow(), pid, FileURL::fromPath(executable)));
    EXPECT_TRUE(pathExists(leasePath));
}

TEST_F(LeaseStoreTest, AbandonedClaimsAreGivenBackOrDeletedWithOneLineEach) {
    const Bytes valid = bytesOf(lease().dump());
    const auto log = directory / "attestation.jsonl";
    auto attestationFor = [](const std::string& runId) {
        LauncherRelaunchAttestation attestation;
        attestation.proofRunId = runId;
        attestation.killedPid = pid;
        attestation.replacementPid = pid + 1;
        attestation.launcherPid = 7;
        attestation.executableSha256 = std::string(64, 'a');
        attestation.observedAt = "2026-01-31T12:00:01.000Z";
        return *attestation.jsonLine();
    };
    struct Case {
        const char* name;
        Bytes claimed;
        std::optional<std::string> atLeasePath; // a newer lease already there
        std::optional<std::string> logText;
        TimePoint now;
        const char* line;
    };
    const Case cases[] = {
        {"valid, path free, not attested",
         valid,
         {},
         {},
         leaseTestNow(),
         "proof_claim stale=restored"},
        {"its log holds another run's line",
         valid,
         {},
         attestationFor("other-run"),
         leaseTestNow(),
         "proof_claim stale=restored"},
        {"expired",
         valid,
         {},
         {},
         *parseInternetDateTime("2026-01-31T12:04:51Z"),
         "proof_claim stale=deleted reason=expired"},
        {"a newer lease took the path",
         valid,
         "{\"newer\":1}",
         {},
         leaseTestNow(),
         "proof_claim stale=deleted reason=superseded"},
        {"attested before the kill",
         valid,
         {},
         "{\"other\":1}\n" + attestationFor("run-2026.01_a"),
         leaseTestNow(),
         "proof_claim stale=deleted reason=attested"},
        {"broken",
         bytesOf("{\"schemaVersion\":"),
         {},
         {},
         leaseTestNow(),
         "proof_claim stale=deleted reason=invalid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::LogCapture capture;
        auto claimed = SystemLauncherProofFileSystem::claimedURL(store.leaseURL);
        writeBytes(claimed.path, c.claimed);
        if (c.atLeasePath)
            writeBytes(leasePath, bytesOf(*c.atLeasePath));
        if (c.logText)
            writeBytes(log, bytesOf(*c.logText));

        store.recoverAbandonedClaims(c.now);
        EXPECT_EQ(capture.messages(), std::vector<std::string>{c.line});
        EXPECT_EQ(countNamesContaining(folder, ".claimed."), 0u);
        if (std::string(c.line).ends_with("restored"))
            EXPECT_EQ(readBytes(leasePath), c.claimed);
        else if (c.atLeasePath)
            EXPECT_EQ(readBytes(leasePath), bytesOf(*c.atLeasePath));
        else
            EXPECT_FALSE(pathExists(leasePath));
        std::filesystem::remove(leasePath);
        std::filesystem::remove(log);
    }

    // A claim that this process still holds is nobody's to recover; a claim attempt recovers
    // first, so a lease abandoned by a killed launcher is claimed again at once.
    test::LogCapture capture;
    writeBytes(leasePath, valid);
    auto held = store.claimActiveLease(leaseTestNow(), pid, FileURL::fromPath(executable));
    ASSERT_TRUE(held);
    store.recoverAbandonedClaims(leaseTestNow());
    EXPECT_TRUE(pathExists(held->claim.claimedURL.path));
    EXPECT_FALSE(pathExists(leasePath));
    store.fileSystem->consumeClaim(held->claim);
    writeBytes(SystemLauncherProofFileSystem::claimedURL(store.leaseURL).path, valid);
    auto again = store.claimActiveLease(leaseTestNow(), pid, FileURL::fromPath(executable));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->claim.data, valid);
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"proof_claim stale=restored"});
}

TEST(LauncherProofLeaseStoreProduction, LivesInTheApplicationSupportFolder) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string savedValue = saved ? saved : "";
    TemporaryDirectory directory;
    ::setenv("XDG_DATA_HOME", directory.string().c_str(), 1);
    auto store = LauncherProofLeaseStore::production();
    saved ? ::setenv("XDG_DATA_HOME", savedValue.c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
    ASSERT_TRUE(store);
    EXPECT_EQ(store->leaseURL.path,
              directory.string() + "/com.quorvel.desktop/launcher-proof-lease.json");
    EXPECT_NE(dynamic_cast<const SystemLauncherProofFileSystem*>(store->fileSystem.get()), nullptr);
    EXPECT_FALSE(pathExists(directory / "com.quorvel.desktop")); // nothing is created
}

} // namespace
} // namespace quorvel

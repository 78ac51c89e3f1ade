#include "proof/LauncherProofLeaseStore.h"

#include "base/Logger.h"
#include "platform/ApplicationSupport.h"
#include "proof/LauncherRelaunchAttestation.h"
#include "proof/SystemLauncherProofFileSystem.h"

#include <algorithm>
#include <array>
#include <boost/url/parse.hpp>
#include <glib.h>
#include <map>
#include <set>

namespace quorvel {

namespace {

const std::set<std::string> baseLeaseKeys = {
    "appPid",   "attestationLogPath", "executablePath", "expiresAt",
    "issuedAt", "proofRunId",         "schemaVersion",  "snapshotLogPath"};
const std::set<std::string> localRelayLeaseKeys = {"localE2ERunId", "uploadFaultURL"};

enum class LeaseKeySet { base, withLocalRelay };

std::optional<LeaseKeySet> keySetOf(JsonValue object) {
    std::set<std::string> keys;
    for (auto member : object.members())
        keys.emplace(member.key);
    if (keys == baseLeaseKeys)
        return LeaseKeySet::base;
    std::set<std::string> extended = baseLeaseKeys;
    extended.insert(localRelayLeaseKeys.begin(), localRelayLeaseKeys.end());
    if (keys == extended)
        return LeaseKeySet::withLocalRelay;
    return std::nullopt;
}

bool isAlphanumeric(gunichar scalar) {
    switch (g_unichar_type(scalar)) {
    case G_UNICODE_LOWERCASE_LETTER:
    case G_UNICODE_MODIFIER_LETTER:
    case G_UNICODE_OTHER_LETTER:
    case G_UNICODE_TITLECASE_LETTER:
    case G_UNICODE_UPPERCASE_LETTER:
    case G_UNICODE_SPACING_MARK:
    case G_UNICODE_ENCLOSING_MARK:
    case G_UNICODE_NON_SPACING_MARK:
    case G_UNICODE_DECIMAL_NUMBER:
    case G_UNICODE_LETTER_NUMBER:
    case G_UNICODE_OTHER_NUMBER:
        return true;
    default:
        return false;
    }
}

bool validLogPath(const std::string& text) {
    auto url = LauncherProofLeaseStore::validLogURL(text);
    return url && url->path == text;
}

Logger proofClaimLogger() {
    return Logger(logSubsystem, "LoginLauncher");
}

// Whether the lease's log already holds the launcher's line for it. A log that cannot be read
// holds none that we know of; an append to it would fail the same way.
bool logHoldsAttestation(const LauncherProofFileSystem& files, const LauncherProofLease& lease) {
    auto log = files.readData(FileURL::fromPath(lease.attestationLogPath),
                              SystemLauncherProofFileSystem::appendLimit);
    if (!log)
        return false;
    std::string_view text(reinterpret_cast<const char*>(log->data()), log->size());
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        auto attestation = LauncherRelaunchAttestation::decode(line);
        if (attestation && attestation->proofRunId == lease.proofRunId &&
            attestation->killedPid == lease.appPid)
            return true;
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return false;
}

} // namespace

std::optional<LauncherProofLeaseStore> LauncherProofLeaseStore::production() {
    auto folder = quorvelApplicationSupportFolder();
    if (!folder)
        return std::nullopt;
    return LauncherProofLeaseStore{folder->appendingPathComponent(leaseFileName),
                                   std::make_shared<SystemLauncherProofFileSystem>()};
}

std::optional<FileURL>
LauncherProofLeaseStore::canonicalExecutableURL(const std::optional<FileURL>& url) {
    if (!url || !url->isAbsolute())
        return std::nullopt;
    FileURL standardized = url->standardized();
    if (standardized.path != url->path || standardized.path == "/")
        return std::nullopt;
    return standardized;
}

std::string_view rawValue(LauncherProofClaimMiss miss) {
    switch (miss) {
    case LauncherProofClaimMiss::missing:
        return "missing";
    case LauncherProofClaimMiss::pidReused:
        return "pid_reused";
    }
    return "missing";
}

Expected<LauncherProofActiveLease, LauncherProofClaimMiss>
LauncherProofLeaseStore::claimActiveLease(TimePoint now, std::int32_t killedPid,
                                          const FileURL& executableURL,
                                          std::optional<TimePoint> killedStartTime) const {
    const auto missing = unexpected(LauncherProofClaimMiss::missing);
    if (!fileSystem)
        return missing;
    recoverAbandonedClaims(now);
    auto claim = fileSystem->claimItem(leaseURL, leaseFileCap);
    if (!claim)
        return missing;

    auto lease = validatedLease(claim->data, now);
    if (!lease) {
        fileSystem->consumeClaim(*claim);
        return missing;
    }
    auto executable = canonicalExecutableURL(executableURL);
    if (lease->appPid != killedPid || !executable || executable->path != lease->executablePath) {
        fileSystem->restoreClaim(*claim, leaseURL);
        return missing;
    }
    // The pid was reused: the process that wrote this lease died unwatched, and the one that just
    // died only happened to get its pid. The lease stays for whoever still cares about it.
    if (killedStartTime && lease->issuedAt + issuedBeforeStartTolerance < *killedStartTime) {
        fileSystem->restoreClaim(*claim, leaseURL);
        return unexpected(LauncherProofClaimMiss::pidReused);
    }
    return LauncherProofActiveLease{std::move(*lease), std::move(claim.value())};
}

void LauncherProofLeaseStore::recoverAbandonedClaims(TimePoint now) const {
    if (!fileSystem)
        return;
    std::map<std::string, std::string_view> reasons;
    auto recovered = fileSystem->recoverAbandonedClaims(
        leaseURL, leaseFileCap, [&](const LauncherProofAbandonedClaim& abandoned) {
            std::string_view& reason = reasons[abandoned.claim.claimedURL.path];
            auto lease =
                abandoned.readable ? validatedLease(abandoned.claim.data, now) : std::nullopt;
            if (!lease) {
                auto decoded = abandoned.readable ? LauncherProofLease::decode(abandoned.claim.data)
                                                  : std::nullopt;
                reason = decoded && now > decoded->expiresAt ? "expired" : "invalid";
            } else if (!abandoned.targetFree) {
                reason = "superseded";
            } else if (logHoldsAttestation(*fileSystem, *lease)) {
                reason = "attested";
            } else {
                return LauncherProofAbandonedClaimFate::putBack;
            }
            return LauncherProofAbandonedClaimFate::remove;
        });
    for (const auto& claim : recovered) {
        if (claim.putBack) {
            proofClaimLogger().info("proof_claim stale=restored");
        } else {
            std::string_view reason = reasons[claim.claimedURL.path];
            // Decided to go back, but a lease written without the lock took the path first.
            if (reason.empty())
                reason = "superseded";
            proofClaimLogger().info("proof_claim stale=deleted reason=%{public}s", {reason});
        }
    }
}

std::optional<LauncherProofLease> LauncherProofLeaseStore::validatedLease(const Bytes& bytes,
                                                                          TimePoint now) {
    auto document = JsonDocument::read(textOf(bytes));
    if (!document || !document->root().isObject())
        return std::nullopt;
    auto keySet = keySetOf(document->root());
    if (!keySet)
        return std::nullopt;
    auto lease = LauncherProofLease::decode(document->root());
    if (!lease)
        return std::nullopt;

    if (lease->schemaVersion != schemaVersion)
        return std::nullopt;
    if (!validRunId(lease->proofRunId))
        return std::nullopt;
    if (!validLogPath(lease->attestationLogPath) || !validLogPath(lease->snapshotLogPath))
        return std::nullopt;
    if (lease->snapshotLogPath == lease->attestationLogPath)
        return std::nullopt;

    if (*keySet == LeaseKeySet::base) {
        if (lease->localE2ERunId || lease->uploadFaultURL)
            return std::nullopt;
    } else {
        if (!lease->localE2ERunId || !lease->uploadFaultURL)
            return std::nullopt;
        if (*lease->localE2ERunId != lease->proofRunId || !validRunId(*lease->localE2ERunId))
            return std::nullopt;
        auto faultController = validFaultControllerURL(*lease->uploadFaultURL);
        if (!faultController || *faultController != *lease->uploadFaultURL)
            return std::nullopt;
    }

    auto executable = canonicalExecutableURL(FileURL::fromPath(lease->executablePath));
    if (!executable || executable->path != lease->executablePath)
        return std::nullopt;

    if (lease->issuedAt > now || now > lease->expiresAt)
        return std::nullopt;
    if (lease->expiresAt - lease->issuedAt > longestLeaseLifetime)
        return std::nullopt;
    return lease;
}

bool LauncherProofLeaseStore::validRunId(std::string_view text) {
    if (text.empty() || text.size() > longestRunId)
        return false;
    // With an explicit length, validation also refuses any NUL byte.
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return false;
    const char* end = text.data() + text.size();
    for (const char* cursor = text.data(); cursor < end; cursor = g_utf8_next_char(cursor)) {
        gunichar scalar = g_utf8_get_char(cursor);
        if (scalar == '-' || scalar == '_' || scalar == '.')
            continue;
        if (!isAlphanumeric(scalar))
            return false;
    }
    return true;
}

std::optional<FileURL> LauncherProofLeaseStore::validLogURL(std::string_view text) {
    if (text.size() > longestLogPath)
        return std::nullopt;
    if (text.empty() || text.front() != '/')
        return std::nullopt;
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    FileURL standardized = FileURL::fromPath(std::string(text)).standardized();
    if (standardized.path != text)
        return std::nullopt;
    if (standardized.pathExtension() != "jsonl")
        return std::nullopt;
    if (standardized.path == "/")
        return std::nullopt;
    return standardized;
}

std::optional<std::string> LauncherProofLeaseStore::validFaultControllerURL(std::string_view text) {
    if (text.size() > longestFaultControllerURL)
        return std::nullopt;
    auto parsed =
        boost::urls::parse_uri_reference(boost::core::string_view(text.data(), text.size()));
    if (!parsed)
        return std::nullopt;
    const boost::urls::url_view& url = *parsed;
    if (!url.has_scheme() || url.scheme() != "http")
        return std::nullopt;
    if (url.has_userinfo() || url.has_password() || url.has_fragment() || url.has_query())
        return std::nullopt;
    if (url.encoded_path() != "/fault")
        return std::nullopt;

    if (!url.has_authority())
        return std::nullopt;
    std::string host(url.encoded_host());
    std::string lowered = host;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](char c) { return static_cast<char>(g_ascii_tolower(c)); });
    if (lowered != "127.0.0.1" && lowered != "localhost")
        return std::nullopt;

    if (!url.has_port())
        return std::nullopt;
    std::string_view port(url.port().data(), url.port().size());
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    int portNumber = std::stoi(std::string(port));
    if (portNumber < 1 || portNumber > 65535)
        return std::nullopt;

    // The URL formed from these components must read exactly like the text: no leading zeros in
    // the port, no other spelling of the same place.
    std::string formed = "http://" + host + ":" + std::to_string(portNumber) + "/fault";
    if (formed != text)
        return std::nullopt;
    return formed;
}

} // namespace quorvel

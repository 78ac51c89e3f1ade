#pragma once

#include "base/Json.h"

namespace quorvel::test {

// The smallest snapshot document the decoder accepts: the thirteen required keys.
inline Json minimalSnapshotDocument() {
    return Json{{"seq", 1},
                {"issuedAtMs", 1700000000000ULL},
                {"state", "ready"},
                {"source", "live"},
                {"elapsedSecs", 0},
                {"captureLive", false},
                {"sealedSegments", 0},
                {"localBytes", 0},
                {"uploadBacklog", 0},
                {"captureSupervisorState", "checking"},
                {"captureLauncherHealth", "enabled"},
                {"humanAttention", false},
                {"policy", {{"version", 1}, {"status", "accepted"}, {"scope", "all"}}}};
}

// A document with every optional field present (about 1.5 KB).
inline Json fullSnapshotDocument() {
    Json scope{{"sessions", 2},
               {"backlog", 3},
               {"backlogUnknown", false},
               {"backlogBytes", 1572864},
               {"connectivity", "ready"},
               {"attention",
                {{"code", "backlogGrowing"}, {"message", "The upload backlog keeps growing"}}},
               {"retryAvailable", true}};
    Json document = minimalSnapshotDocument();
    document["seq"] = 4711;
    document["state"] = "recording";
    document["captureLive"] = true;
    document["proofRunId"] = "5B0E3C8A-9D0F-4E1B-8A3C-2F6D7E8A9B0C";
    document["sessionId"] = "session-2026-12-06T08-00-00Z-0001";
    document["elapsedSecs"] = 720;
    document["sealedSegments"] = 42;
    document["localBytes"] = 987654321;
    document["currentUpload"] = scope;
    document["pendingUpload"] = scope;
    document["uploadBacklog"] = 3;
    document["uploadBacklogUnknown"] = false;
    document["uploadBacklogBytes"] = 1572864;
    document["uploadConfirmedFrontier"] = {{"counter", 991},
                                           {"head", "b3c1f0e2d4a5968778695a4b3c2d1e0f"}};
    document["uploadConnectivity"] = "ready";
    document["uploadAttention"] = {{"code", "cataloguePartial"},
                                   {"message", "Some segments are not catalogued yet"}};
    document["uploadLauncherHealth"] = "running";
    document["uploadWorkFingerprint"] = "fp-7a6b5c4d3e2f1a0b9c8d7e6f5a4b3c2d";
    document["attention"] = {{"code", "diskSpaceLow"},
                             {"message", "Less than 5 GB free on the recordings volume"}};
    document["captureSupervisorState"] = "recording";
    document["captureSupervisorReason"] = "checkingPrerequisites";
    document["captureInterruption"] = "screenLock";
    document["humanAttention"] = true;
    document["updatePending"] = "2.4.1";
    return document;
}

} // namespace quorvel::test

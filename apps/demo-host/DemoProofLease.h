#pragma once

// The proof lease as a test harness has the host app write it before the harness kills it.
//
// The launcher opens the host app with nothing but "--quorvel-background-launch" and its own
// environment, so the lease is requested through the environment: when QUORVEL_DEMO_PROOF_LOG
// names an attestation log (an absolute path in standard form ending in ".jsonl"), every copy of
// the demo host, the launcher's replacements included, writes a lease for itself each time it
// receives SIGUSR1. A harness arms the copy it is about to kill, and only that one: a replacement
// writes nothing until it is asked, so a used lease is not silently followed by a new one.
//
// The lease ("launcher-proof-lease.json" in the application-support folder) names this process's
// pid and executable (as /proc/self/exe gives it), a fresh run id ("demo-<UUID>"), the attestation
// log, a snapshot log beside it ("<name>-snapshots.jsonl", never written), issuedAt now (whole
// seconds) and expiresAt 300 seconds later. It is written whole under the lease's lock file
// ("launcher-proof-lease.json.lock", flock): staged beside the lease, synced and renamed over it,
// so the launcher never reads a partial lease and never claims one while it is being written.
//
// Standard output gets "proof-lease armed pid=N log=PATH" at start, then per request either
// "proof-lease written pid=N run=ID lease=PATH" or "proof-lease failed pid=N reason=TEXT" (the
// lease path is then as it was). A log path that breaks the rule gives
// "proof-lease disabled reason=TEXT" at start, and SIGUSR1 is left alone.
//
// Call on the main thread before the main loop runs; without the variable nothing happens.
void startDemoProofLease();

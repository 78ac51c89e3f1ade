# Chapter: the proof witness. The host app leaves a proof lease naming itself, is killed, and the
# launcher that relaunches it appends one attestation line to the log the lease names. Sourced by
# scripts/demo.sh (helpers in scripts/demo-lib.sh).

say "The proof witness attests an automatic relaunch"

proof_sign=()
[ -f "$QUORVEL_BUILD_DIR/codesign/development-signing-key.pem" ] &&
  proof_sign=(--sign "$QUORVEL_BUILD_DIR/codesign/development-signing-key.pem")
proof_bundle=$("$QUORVEL_SOURCE_DIR/scripts/make-bundle.sh" --build "$QUORVEL_BUILD_DIR" \
  "${proof_sign[@]}" "$DEMO_ROOT/ProofDemo")
proof_host_exe=$proof_bundle/Contents/MacOS/Quorvel
proof_launcher_exe=$proof_bundle/Contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS/QuorvelLauncher
proof_support=$XDG_DATA_HOME/com.quorvel.desktop
proof_lease=$proof_support/launcher-proof-lease.json
proof_marker=$proof_support/maintenance.stop
proof_attestations=$DEMO_ROOT/proof/attestation.jsonl
proof_log=$DEMO_ROOT/proof-launcher.log

# Live processes running this bundle's host app (a zombie has no executable link).
proof_host_pids() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = "$proof_host_exe" ] && printf '%s\n' "${p#/proc/}"
  done
  return 0
}
proof_host_is_new() { local now; now=$(proof_host_pids); [ -n "$now" ] && [ "$now" != "$1" ]; }
proof_printed() { grep -qF -- "$1" "$proof_log"; }
proof_gone() { ! kill -0 "$1" 2>/dev/null; }

note "starting QuorvelLauncher with QUORVEL_DEMO_PROOF_LOG=$proof_attestations"
note "(the launcher passes its environment on, so every host app it opens can write a lease when asked)"
QUORVEL_DEMO_PROOF_LOG=$proof_attestations "$proof_launcher_exe" >"$proof_log" 2>&1 &
proof_launcher_pid=$!
demo_track "$proof_launcher_pid"
wait_for 30 proof_host_is_new "" || { sed 's/^/   | /' "$proof_log"; note "the host app did not start"; exit 1; }
proof_host=$(proof_host_pids)
demo_track "$proof_host"
wait_for 10 proof_printed "proof-lease armed pid=$proof_host " || note "the host app did not arm its lease"
note "the host app runs as pid $proof_host"

say "The harness asks the host app (pid $proof_host) for a proof lease of its own: SIGUSR1"
kill -USR1 "$proof_host"
if wait_for 10 proof_printed "proof-lease written pid=$proof_host "; then
  note "${proof_lease#"$HOME/"}, written under its lock file:"
  python3 -m json.tool "$proof_lease" 2>/dev/null | sed 's/^/   | /' || sed 's/^/   | /' "$proof_lease"
else
  lines_matching "proof-lease" "$proof_log" | sed 's/^/   | /'
  note "no lease was written (unexpected)"
fi

say "SIGKILL the host app; the launcher relaunches it and attests the replacement"
kill -KILL "$proof_host"
wait_for 30 proof_host_is_new "$proof_host" || { sed 's/^/   | /' "$proof_log"; note "the host app did not come back"; exit 1; }
proof_replacement=$(proof_host_pids)
demo_track "$proof_replacement"
wait_for 10 test -s "$proof_attestations" || note "no attestation appeared (unexpected)"
sed -n 's/^[^:]*LoginLauncher [a-z]*: /   | /p' "$proof_log" | tail -n 6
note "the attestation line in $proof_attestations:"
[ -e "$proof_attestations" ] && sed 's/^/   | /' "$proof_attestations"
note "killed pid $proof_host, replacement pid $proof_replacement, launcher pid $proof_launcher_pid"
proof_digest=$(sed -n 's/.*"executableSha256":"\([0-9a-f]*\)".*/\1/p' "$proof_attestations" 2>/dev/null || true)
proof_actual=$(sha256sum "$proof_host_exe" | cut -d' ' -f1)
if [ "$proof_digest" = "$proof_actual" ]; then
  note "executableSha256 matches sha256sum of ${proof_host_exe#"$DEMO_ROOT/"}"
else
  note "executableSha256 differs from sha256sum $proof_actual (unexpected)"
fi
if [ -e "$proof_lease" ]; then
  note "the lease is still there (unexpected)"
else
  note "the lease is gone: it was used once. Left in ${proof_support#"$HOME/"}: $(ls -A "$proof_support" | tr '\n' ' ')"
fi

note "stopping: stop marker for the launcher, SIGTERM for the host app"
printf 'maintenance\n' > "$proof_marker"
wait_for 10 proof_gone "$proof_launcher_pid" || kill -TERM "$proof_launcher_pid" 2>/dev/null || true
wait "$proof_launcher_pid" 2>/dev/null || true
kill -TERM "$proof_replacement" 2>/dev/null || true
wait_for 5 proof_gone "$proof_replacement" || kill -KILL "$proof_replacement" 2>/dev/null || true
rm -f "$proof_marker"

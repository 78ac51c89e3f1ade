# Chapter: the launcher keeps the host app running, backs off after each crash, and stops when the
# maintenance marker appears. Sourced by scripts/demo.sh (helpers in scripts/demo-lib.sh).

say "The launcher keeps the host app running"

# Signed with this build's development key (when it has one), so that the update check before each
# launch finds the bundle whole.
launcher_sign=()
[ -f "$QUORVEL_BUILD_DIR/codesign/development-signing-key.pem" ] &&
  launcher_sign=(--sign "$QUORVEL_BUILD_DIR/codesign/development-signing-key.pem")
launcher_bundle=$("$QUORVEL_SOURCE_DIR/scripts/make-bundle.sh" --build "$QUORVEL_BUILD_DIR" \
  "${launcher_sign[@]}" "$DEMO_ROOT/Applications")
launcher_host_exe=$launcher_bundle/Contents/MacOS/Quorvel
launcher_exe=$launcher_bundle/Contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS/QuorvelLauncher
launcher_marker=$XDG_DATA_HOME/com.quorvel.desktop/maintenance.stop
launcher_log=$DEMO_ROOT/launcher.log
note "host app bundle: $launcher_bundle"
note "its login item:  ${launcher_exe#"$launcher_bundle/"}"

# Live processes running the host app's executable (a zombie has no executable link).
launcher_host_pids() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = "$launcher_host_exe" ] && printf '%s\n' "${p#/proc/}"
  done
  return 0
}
launcher_host_is_new() { local now; now=$(launcher_host_pids); [ -n "$now" ] && [ "$now" != "$1" ]; }
launcher_log_lines=0
# Shows what the launcher (and the host app) wrote since the last call.
launcher_show_log() {
  local total
  total=$(wc -l < "$launcher_log")
  sed -n "$((launcher_log_lines + 1)),${total}p" "$launcher_log" | sed 's/^[^:]*LoginLauncher [a-z]*: /   | /; s/^quorvel-demo-host/   | host app:/; s/^lifecycle /   | host app: lifecycle /'
  launcher_log_lines=$total
}
launcher_now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
launcher_seconds() { printf '%d.%d s' $(($1 / 1000)) $((($1 % 1000) / 100)); }
launcher_gone() { ! kill -0 "$1" 2>/dev/null; }

note "starting QuorvelLauncher (it logs to standard error here: QUORVEL_LOG=stderr)"
"$launcher_exe" >"$launcher_log" 2>&1 &
launcher_pid=$!
demo_track "$launcher_pid"
wait_for 10 launcher_host_is_new "" || { note "the host app did not start"; exit 1; }
launcher_host=$(launcher_host_pids)
demo_track "$launcher_host"
sleep 0.2
launcher_show_log
note "the host app runs as pid $launcher_host, started by the launcher"

for expected in 2 5; do
  say "SIGKILL the host app (pid $launcher_host); the launcher should bring it back after $expected s"
  kill -KILL "$launcher_host"
  killed_at=$(launcher_now_ms)
  wait_for 70 launcher_host_is_new "$launcher_host" || { note "the host app did not come back"; exit 1; }
  back_after=$(( $(launcher_now_ms) - killed_at ))
  launcher_host=$(launcher_host_pids)
  demo_track "$launcher_host"
  sleep 0.2
  launcher_show_log
  note "back after $(launcher_seconds "$back_after") as pid $launcher_host"
done

say "Write the stop marker: the launcher stops, the host app keeps running"
mkdir -p "$(dirname "$launcher_marker")"
printf 'maintenance\n' > "$launcher_marker.tmp" && mv "$launcher_marker.tmp" "$launcher_marker"
note "wrote $launcher_marker"
wait_for 10 launcher_gone "$launcher_pid" || { note "the launcher did not stop"; exit 1; }
launcher_status=0
wait "$launcher_pid" || launcher_status=$?
launcher_show_log
note "QuorvelLauncher exited with status $launcher_status"
if kill -0 "$launcher_host" 2>/dev/null; then
  note "the host app is still running as pid $launcher_host"
else
  note "the host app is NOT running any more (unexpected)"
fi

note "ending the host app (SIGTERM) and removing the marker"
kill -TERM "$launcher_host" 2>/dev/null || true
wait_for 5 launcher_gone "$launcher_host" || kill -KILL "$launcher_host" 2>/dev/null || true
rm -f "$launcher_marker"

# Chapter: the login item (an XDG autostart entry in the demo's HOME) and the lifecycle codes
# (sleep, wake, lock and session events from a logind mock on a private system bus, and the focus
# hand-off of a second copy). Sourced by scripts/demo.sh (helpers in scripts/demo-lib.sh).

lifecycle_bundle=$("$QUORVEL_SOURCE_DIR/scripts/make-bundle.sh" --build "$QUORVEL_BUILD_DIR" "$DEMO_ROOT/Lifecycle")
lifecycle_exe=$lifecycle_bundle/Contents/MacOS/Quorvel
lifecycle_entry=$XDG_CONFIG_HOME/autostart/com.quorvel.desktop.launcher.desktop
lifecycle_marker=$XDG_DATA_HOME/com.quorvel.desktop/maintenance.stop

# One-shot runs of the host app: its result lines and its log lines, indented.
lifecycle_once() {
  { timeout 10 "$lifecycle_exe" "$@" 2>&1 || true; } |
    sed -n 's/^[^ ]* [^ ]* LoginLauncher [a-z]*: /   | log: /p; s/^\(login-item .*\)/   | \1/p'
}

lifecycle_probe=$(timeout 10 "$lifecycle_exe" --login-item 2>/dev/null || true)
if [[ "$lifecycle_probe" != *"login-item "* ]]; then
  say "Login item and lifecycle: skipped (this demo host does not answer --login-item yet)"
  rm -f "$lifecycle_entry"
  return 0
fi
rm -f "$lifecycle_entry"

say "The login item: the host app registers its launcher as an XDG autostart entry"
note "Quorvel --login-item (quorvel_login_launch_ensure, then quorvel_login_launch_status):"
lifecycle_once --login-item
note "the entry it wrote, ${lifecycle_entry#"$HOME/"}:"
[ -e "$lifecycle_entry" ] && sed 's/^/   | /' "$lifecycle_entry" || note "(no entry was written)"

say "Stopping for maintenance writes the marker first, then removes the entry"
lifecycle_once --login-item-stop
[ -e "$lifecycle_marker" ] && note "marker ${lifecycle_marker#"$HOME/"}: $(tr '\n' ' ' < "$lifecycle_marker")" ||
  note "no marker was written (unexpected)"
[ -e "$lifecycle_entry" ] && note "the autostart entry is still there (unexpected)" || note "the autostart entry is gone"
note "registering again removes the marker:"
lifecycle_once --login-item
[ -e "$lifecycle_marker" ] && note "the marker is still there (unexpected)" || note "the marker is gone"

say "Lifecycle codes: logind (a mock on a private system bus) tells the host app what happens"
lifecycle_bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null)
lifecycle_system=$(printf '%s\n' "$lifecycle_bus" | sed -n 1p)
lifecycle_bus_pid=$(printf '%s\n' "$lifecycle_bus" | sed -n 2p)
demo_track "$lifecycle_bus_pid"
DBUS_SYSTEM_BUS_ADDRESS=$lifecycle_system /usr/bin/python3 -m dbusmock --template logind \
  >"$DEMO_ROOT/logind-mock.log" 2>&1 &
lifecycle_mock_pid=$!
demo_track "$lifecycle_mock_pid"
lifecycle_login1() { gdbus call --address "$lifecycle_system" -d org.freedesktop.login1 "$@" >/dev/null; }
wait_for 15 gdbus introspect --address "$lifecycle_system" -d org.freedesktop.login1 -o /org/freedesktop/login1 \
  >/dev/null 2>&1 || { note "the logind mock did not start"; exit 1; }
lifecycle_login1 -o /org/freedesktop/login1 -m org.freedesktop.DBus.Mock.AddSession c1 seat0 "$(id -u)" demo true
note "logind mock up, with session c1 active on seat0"

lifecycle_log=$DEMO_ROOT/lifecycle-host.log
DBUS_SYSTEM_BUS_ADDRESS=$lifecycle_system XDG_SESSION_ID=c1 "$lifecycle_exe" >"$lifecycle_log" 2>&1 &
lifecycle_pid=$!
demo_track "$lifecycle_pid"
lifecycle_shown=0
lifecycle_count() { grep -c '^lifecycle code=' "$lifecycle_log" 2>/dev/null || true; }
lifecycle_has() { [ "$(lifecycle_count)" -ge "$1" ]; }
# Waits for the host app to print N more codes and shows them.
lifecycle_expect() {
  local want=$((lifecycle_shown + $1))
  wait_for 10 lifecycle_has "$want" || note "(fewer codes than expected)"
  sleep 0.2
  lines_matching '^lifecycle code=' "$lifecycle_log" | sed -n "$((lifecycle_shown + 1)),\$p" | sed 's/^/   | host app: /'
  lifecycle_shown=$(lifecycle_count)
}
note "the host app starts and installs the lifecycle monitor (pid $lifecycle_pid):"
lifecycle_expect 1

note "logind: PrepareForSleep(true), then PrepareForSleep(false)"
lifecycle_login1 -o /org/freedesktop/login1 -m org.freedesktop.DBus.Mock.EmitSignal \
  org.freedesktop.login1.Manager PrepareForSleep b '[<true>]'
lifecycle_expect 1
lifecycle_login1 -o /org/freedesktop/login1 -m org.freedesktop.DBus.Mock.EmitSignal \
  org.freedesktop.login1.Manager PrepareForSleep b '[<false>]'
lifecycle_expect 2

note "the session locks (logind's Lock signal, then the locker's LockedHint), and unlocks"
lifecycle_login1 -o /org/freedesktop/login1/session/c1 -m org.freedesktop.login1.Session.Lock
lifecycle_login1 -o /org/freedesktop/login1/session/c1 -m org.freedesktop.login1.Session.SetLockedHint true
lifecycle_expect 1
lifecycle_login1 -o /org/freedesktop/login1/session/c1 -m org.freedesktop.login1.Session.Unlock
lifecycle_login1 -o /org/freedesktop/login1/session/c1 -m org.freedesktop.login1.Session.SetLockedHint false
lifecycle_expect 1

note "another user's session takes the console, then ours comes back"
lifecycle_login1 -o /org/freedesktop/login1/session/c1 -m org.freedesktop.DBus.Mock.UpdateProperties \
  org.freedesktop.login1.Session "{'Active': <false>, 'State': <'online'>}"
lifecycle_expect 1
lifecycle_login1 -o /org/freedesktop/login1/session/c1 -m org.freedesktop.DBus.Mock.UpdateProperties \
  org.freedesktop.login1.Session "{'Active': <true>, 'State': <'active'>}"
lifecycle_expect 1

say "A second copy of the host app hands off to the first"
note "Quorvel --focus-existing (quorvel_application_focus_existing):"
{ timeout 10 "$lifecycle_exe" --focus-existing 2>&1 || true; } | sed -n 's/^\(lifecycle .*\)/   | second copy: \1/p'
lifecycle_expect 1

note "logind announces the power-off"
lifecycle_login1 -o /org/freedesktop/login1 -m org.freedesktop.DBus.Mock.EmitSignal \
  org.freedesktop.login1.Manager PrepareForShutdown b '[<true>]'
lifecycle_expect 1

note "ending the host app, the logind mock and its bus"
kill -TERM "$lifecycle_pid" 2>/dev/null || true
wait "$lifecycle_pid" 2>/dev/null || true
kill -TERM "$lifecycle_mock_pid" "$lifecycle_bus_pid" 2>/dev/null || true
wait "$lifecycle_mock_pid" 2>/dev/null || true

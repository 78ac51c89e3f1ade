# Chapter: quorvel-doctor in the demo's environment (its session bus, files and tray viewer), with a
# keyring and a logind stand-in of its own as a user's session would have them, one line per
# check. A problem line makes it exit 1; the demo notes that instead of stopping. Sourced by
# scripts/demo.sh.

say "Doctor: what the tray item, sign-in and login item rely on here"
doctor_dir=$DEMO_ROOT/doctor
mkdir -p "$doctor_dir/runtime"; chmod 700 "$doctor_dir/runtime"
printf %s demo-keyring-password | XDG_RUNTIME_DIR=$doctor_dir/runtime \
  gnome-keyring-daemon --foreground --unlock --components=secrets >"$doctor_dir/keyring.log" 2>&1 &
doctor_keyring_pid=$!
demo_track "$doctor_keyring_pid"
doctor_bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null)
doctor_system=$(printf '%s\n' "$doctor_bus" | sed -n 1p)
doctor_bus_pid=$(printf '%s\n' "$doctor_bus" | sed -n 2p)
demo_track "$doctor_bus_pid"
DBUS_SYSTEM_BUS_ADDRESS=$doctor_system /usr/bin/python3 -m dbusmock --template logind \
  >"$doctor_dir/logind-mock.log" 2>&1 &
doctor_mock_pid=$!
demo_track "$doctor_mock_pid"
doctor_owned() { # doctor_owned ADDRESS-OPTION NAME
  [[ "$(gdbus call $1 -d org.freedesktop.DBus -o /org/freedesktop/DBus \
          -m org.freedesktop.DBus.NameHasOwner "$2" 2>/dev/null)" == *true* ]]
}
if wait_for 15 doctor_owned --session org.freedesktop.secrets &&
   wait_for 15 doctor_owned "--address=$doctor_system" org.freedesktop.login1; then
  gdbus call --address "$doctor_system" -d org.freedesktop.login1 -o /org/freedesktop/login1 \
    -m org.freedesktop.DBus.Mock.AddSession c1 seat0 "$(id -u)" demo true >/dev/null
  note "a keyring (unlocked) on the session bus and logind (session c1) on a private system bus"
else
  note "the keyring or the logind stand-in did not start; the doctor will say so"
fi

doctor_status=0
DBUS_SYSTEM_BUS_ADDRESS=$doctor_system XDG_SESSION_ID=c1 \
  "$QUORVEL_BUILD_DIR/bin/quorvel-doctor" >"$DEMO_ROOT/doctor.txt" 2>&1 || doctor_status=$?
while IFS= read -r doctor_line; do note "$doctor_line"; done <"$DEMO_ROOT/doctor.txt"
if [ "$doctor_status" -ne 0 ]; then
  note "quorvel-doctor exited $doctor_status: a check found a problem in this environment (see above)"
else
  note "quorvel-doctor exited 0: no check found a problem (warnings are advice)"
fi
kill -TERM "$doctor_keyring_pid" "$doctor_mock_pid" "$doctor_bus_pid" 2>/dev/null || true
wait "$doctor_keyring_pid" "$doctor_mock_pid" 2>/dev/null || true

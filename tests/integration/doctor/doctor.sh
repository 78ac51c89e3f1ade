#!/usr/bin/env bash
# Runs the doctor in a scratch home on private session and system buses; asserts verdicts and exit
# status.
set -u
doctor=$1 viewer=$2
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
mkdir -m 0700 "$XDG_RUNTIME_DIR"
failures=0
verdict() { awk -v n="$1" 'substr($0, 9, length(n) + 1) == n ":" { print $1; exit }' "$work/out"; }
expect() { # name verdict [text the line must hold]
  local got; got=$(verdict "$1")
  local line; line=$(grep -F " $1: " "$work/out" | head -n 1)
  if [ "$got" != "$2" ] || [[ "$line" != *"${3:-}"* ]]; then
    echo "FAIL [$case_name] $1: expected $2 ${3:+with '$3'}, got '${line}'"; cat "$work/out"
    failures=$((failures + 1))
  fi
}
# A bus of its own, its address exported as the given variable, its pid kept for the exit trap.
private_bus() {
  local out; out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
  pids+=("$(sed -n 2p <<<"$out")"); export "$1=$(sed -n 1p <<<"$out")"
}
wait_for_name() { # bus-flag name
  for _ in $(seq 100); do
    gdbus call "$1" --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
      --method org.freedesktop.DBus.NameHasOwner "$2" 2>/dev/null | grep -q true && return 0
    sleep 0.1
  done
  echo "FAIL $2 never appeared"; failures=$((failures + 1)); return 1
}
run() { "$doctor" >"$work/out" 2>&1; status=$?; }
entry=$XDG_CONFIG_HOME/autostart/com.quorvel.desktop.launcher.desktop
mkdir -p "$XDG_CONFIG_HOME/autostart" "$work/bin"; printf '#!/bin/sh\n' >"$work/bin/QuorvelLauncher"; chmod +x "$work/bin/QuorvelLauncher"

# case | entry text ("" = none) | login item verdict
while IFS='|' read -r case_name text want; do
  rm -f "$entry"; [ -n "$text" ] && printf "$text" >"$entry"
  run; expect "login item" "$want"
done <<TABLE
none||warning
enabled|[Desktop Entry]\nType=Application\nName=L\nExec=$work/bin/QuorvelLauncher\n|ok
switched off|[Desktop Entry]\nType=Application\nName=L\nHidden=true\nExec=$work/bin/QuorvelLauncher\n|warning
missing launcher|[Desktop Entry]\nType=Application\nName=L\nExec=$work/gone/QuorvelLauncher\n|problem
TABLE
[ "$status" = 1 ] || { echo "FAIL exit status with a problem: $status"; failures=$((failures + 1)); }

# Without a watcher, then with the tray viewer as watcher and host, on a private bus.
private_bus DBUS_SESSION_BUS_ADDRESS
case_name="no watcher"; run; expect "session bus" ok; expect "tray watcher" problem; expect "secret service" problem
"$viewer" >"$work/viewer.log" 2>&1 & pids+=($!)
wait_for_name --session org.kde.StatusNotifierWatcher
case_name="watcher"; run; expect "tray watcher" ok "quorvel-tray-viewer"; expect "tray host" ok; expect "tray test item" ok

# A keyring daemon of its own with its login keyring unlocked, then locked (no prompt either way).
printf 'doctor-test-password' | gnome-keyring-daemon --foreground --unlock --components=secrets \
  >"$work/keyring.log" 2>&1 & pids+=($!)
wait_for_name --session org.freedesktop.secrets
case_name="unlocked keyring"; run; expect "secret service" ok "gnome-keyring-daemon"; expect "default collection" ok "is unlocked"
gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
  --method org.freedesktop.Secret.Service.Lock "['/org/freedesktop/secrets/collection/login']" >/dev/null
case_name="locked keyring"; run; expect "default collection" warning "is locked"

# A system bus without logind, then with a logind mock that knows this session.
private_bus DBUS_SYSTEM_BUS_ADDRESS; export XDG_SESSION_ID=c1
case_name="no logind"; run; expect "logind" warning "not on the system bus"
/usr/bin/python3 -m dbusmock --system --template logind >"$work/logind.log" 2>&1 & pids+=($!)
wait_for_name --system org.freedesktop.login1
case_name="logind, no session"; run; expect "logind" ok; expect "logind session" warning "names no session"
gdbus call --system --dest org.freedesktop.login1 --object-path /org/freedesktop/login1 \
  --method org.freedesktop.DBus.Mock.AddSession c1 seat0 "$(id -u)" doctor true >/dev/null
case_name="logind session"; run; expect "logind session" ok "state active, LockedHint false"
exit $((failures > 0))

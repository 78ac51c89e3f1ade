#!/usr/bin/env bash
# Runs the doctor in a scratch home on a private session bus; asserts verdicts and exit status.
set -u
doctor=$1 viewer=$2
work=$(mktemp -d); trap 'kill $viewer_pid 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
failures=0
verdict() { awk -v n="$1" 'substr($0, 9, length(n) + 1) == n ":" { print $1; exit }' "$work/out"; }
expect() { # name verdict
  local got; got=$(verdict "$1")
  [ "$got" = "$2" ] || { echo "FAIL [$case_name] $1: expected $2, got '${got}'"; cat "$work/out"; failures=$((failures + 1)); }
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
export DBUS_SESSION_BUS_ADDRESS=
eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 | awk 'NR==1{print "export DBUS_SESSION_BUS_ADDRESS=" $0} NR==2{print "bus_pid=" $0}')"
viewer_pid=
case_name="no watcher"; run; expect "session bus" ok; expect "tray watcher" problem; expect "secret service" problem
"$viewer" >"$work/viewer.log" 2>&1 & viewer_pid=$!
for _ in $(seq 50); do grep -q . "$work/viewer.log" 2>/dev/null && break; "$doctor" | grep -q '^ok      tray watcher' && break; sleep 0.1; done
case_name="watcher"; run; expect "tray watcher" ok; expect "tray host" ok; expect "tray test item" ok
kill "$bus_pid" 2>/dev/null
exit $((failures > 0))

#!/usr/bin/env bash
# What the launcher's idle health check costs as the process table grows: in a private pid
# namespace (its own /proc) with N sleeping processes beside the launcher and its idle host app,
# the launcher's CPU time per minute (from /proc/PID/schedstat, nanoseconds) and its system calls
# per one-second tick (strace over a few ticks). Needs root (unshare --pid) and strace.
# Usage: bench/launcher/idle-scan.sh [BUILD_DIR] [SECONDS] [N...]   (defaults: build, 20, 10 150 1000)
# Prints one line per N; ends every process it started (they all die with the namespace).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=$(cd "${1:-${QUORVEL_BUILD_DIR:-$source_dir/build}}" && pwd)
window=${2:-20}
shift $(($# > 2 ? 2 : $#))
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(10 150 1000)

if [ -z "${QUORVEL_IDLE_SCAN_INNER:-}" ]; then
  if [ "$(id -u)" != 0 ] || ! command -v strace >/dev/null; then
    echo "idle-scan: skipped (needs root for a pid namespace, and strace)"
    exit 0
  fi
  for n in "${counts[@]}"; do
    QUORVEL_IDLE_SCAN_INNER=1 unshare --pid --fork --mount-proc "$0" "$build" "$window" "$n"
  done
  exit 0
fi

# Inside the namespace: this shell is pid 1, and /proc shows only what runs here.
n=${counts[0]}
root=$(mktemp -d /tmp/quorvel-idle-scan-XXXXXX)
trap 'rm -rf "$root"' EXIT
bundle=$("$source_dir/scripts/make-bundle.sh" --build "$build" "$root/Applications")
# Freshly copied files stay dirty in the page cache until written back, and their pages would count
# as private dirty memory of the process that maps them.
sync
host_exe=$bundle/Contents/MacOS/Quorvel
export HOME=$root/home XDG_DATA_HOME=$root/home/.local/share QUORVEL_LOG=stderr
mkdir -p "$XDG_DATA_HOME"
for _ in $(seq 1 "$n"); do sleep 100000 & done
"$bundle/Contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS/QuorvelLauncher" \
  >"$root/launcher.log" 2>&1 &
launcher=$!
host=
for _ in $(seq 1 200); do
  for p in /proc/[0-9]*; do
    if [ "$(readlink "$p/exe" 2>/dev/null)" = "$host_exe" ]; then host=${p#/proc/}; break 2; fi
  done
  sleep 0.05
done
[ -n "$host" ] || { echo "idle-scan: the host app did not start" >&2; exit 1; }
sleep 2 # start-up is not idle time

# Waiting without starting a process: a new process is a change the launcher rightly looks at.
mkfifo "$root/pause"
exec 3<> "$root/pause"
pause() { read -r -t "$1" -u 3 || true; }

# Read with builtins: even a command substitution starts a process.
read -r before _ < "/proc/$launcher/schedstat"
pause "$window"
read -r after _ < "/proc/$launcher/schedstat"
# System calls over whole ticks, from one second after strace attached (its own start is a new
# process in the table) to `ticks` seconds later: a whole sweep of the known processes.
ticks=30
strace -f -q -ttt -p "$launcher" -o "$root/strace.txt" &
tracer=$!
pause $((ticks + 2))
kill -INT "$tracer"
wait "$tracer" 2>/dev/null || true
calls=$(awk -v ticks="$ticks" 'NR == 1 { t0 = $2 } $2 >= t0 + 1 && $2 < t0 + 1 + ticks && $3 ~ /^[a-z_0-9]+\(/ { n++ } END { print n + 0 }' "$root/strace.txt")
processes=$(ls -d /proc/[0-9]* | wc -l)
awk -v ns=$((after - before)) -v window="$window" -v n="$n" -v p="$processes" -v calls="${calls:-0}" \
  -v ticks="$ticks" 'BEGIN {
  printf "N=%-5d processes=%-5d CPU %.4f s per minute  syscalls per tick %.0f\n", n, p, ns / 1e9 * 60 / window, calls / ticks
}'

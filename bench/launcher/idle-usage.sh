#!/usr/bin/env bash
# CPU time and peak memory of QuorvelLauncher supervising an idle host app, in a temporary HOME.
# Usage: bench/launcher/idle-usage.sh [BUILD_DIR] [SECONDS]   (defaults: build, 60)
# Prints the launcher's CPU seconds over the window, scaled to one minute and as a share of one
# core, its peak resident set (VmHWM) and its private dirty memory (smaps_rollup), with the
# mappings that hold most of it. Ends every process it started.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=$(cd "${1:-${QUORVEL_BUILD_DIR:-$source_dir/build}}" && pwd)
window=${2:-60}

root=$(mktemp -d /tmp/quorvel-idle-XXXXXX)
launcher_pid=
host_pid=
cleanup() {
  [ -n "$launcher_pid" ] && kill -TERM "$launcher_pid" 2>/dev/null || true
  [ -n "$host_pid" ] && kill -TERM "$host_pid" 2>/dev/null || true
  sleep 0.2
  [ -n "$host_pid" ] && kill -KILL "$host_pid" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bundle=$("$source_dir/scripts/make-bundle.sh" --build "$build" "$root/Applications")
# Freshly copied files stay dirty in the page cache until written back, and their pages would count
# as private dirty memory of the process that maps them.
sync
host_exe=$bundle/Contents/MacOS/Quorvel
export HOME=$root/home XDG_DATA_HOME=$root/home/.local/share QUORVEL_LOG=stderr
mkdir -p "$XDG_DATA_HOME"
"$bundle/Contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS/QuorvelLauncher" >"$root/launcher.log" 2>&1 &
launcher_pid=$!

for _ in $(seq 1 200); do
  for p in /proc/[0-9]*; do
    if [ "$(readlink "$p/exe" 2>/dev/null)" = "$host_exe" ]; then host_pid=${p#/proc/}; break 2; fi
  done
  sleep 0.05
done
[ -n "$host_pid" ] || { echo "idle-usage: the host app did not start" >&2; exit 1; }

ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() { awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$launcher_pid/stat"; }
sleep 2 # start-up is not idle time
before=$(cpu_ticks)
sleep "$window"
after=$(cpu_ticks)
private_dirty_kib=$(awk '/^Private_Dirty:/ { print $2 }' "/proc/$launcher_pid/smaps_rollup")
# Where the private dirty pages lie, largest first: heap, stacks and each library's writable data.
top_dirty=$(awk '/^[0-9a-f]+-[0-9a-f]+ / { name = ($6 == "" ? "[anonymous]" : $6); sub(/.*\//, "", name) }
  /^Private_Dirty:/ { dirty[name] += $2 }
  END { for (n in dirty) if (dirty[n] > 0) printf "%d %s\n", dirty[n], n }' "/proc/$launcher_pid/smaps" |
  sort -rn | head -6 | awk '{ printf "%s%s %d KiB", (NR > 1 ? ", " : ""), $2, $1 }')
peak_kib=$(awk '/^VmHWM:/ { print $2 }' "/proc/$launcher_pid/status")
rss_kib=$(awk '/^VmRSS:/ { print $2 }' "/proc/$launcher_pid/status")

awk -v ticks=$((after - before)) -v hz="$ticks_per_second" -v window="$window" -v peak="$peak_kib" -v rss="$rss_kib" \
  -v dirty="$private_dirty_kib" -v top="$top_dirty" 'BEGIN {
  cpu = ticks / hz
  printf "launcher idle over %d s: CPU %.3f s (%.3f s per minute, %.3f %% of one core)\n", window, cpu, cpu * 60 / window, cpu * 100 / window
  printf "launcher memory: peak RSS %.1f MiB (VmHWM %d KiB), RSS now %.1f MiB, Private_Dirty %d KiB\n", peak / 1024, peak, rss / 1024, dirty
  printf "launcher private dirty by mapping: %s\n", top
}'

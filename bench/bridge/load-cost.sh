#!/usr/bin/env bash
# What loading the library costs a host app: the median wall time of one dlopen (RTLD_NOW) in a
# fresh process over RUNS processes, and the shared objects it brings in (the library itself and
# every dependency not already loaded). Measures the library of the build folder, or LIBRARY.
# Usage: bench/bridge/load-cost.sh [BUILD_DIR] [LIBRARY] [RUNS]   (defaults: build, its library, 41)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-${QUORVEL_BUILD_DIR:-$here/../../build}}" && pwd)
library=${2:-$build/lib/libQuorvelShellBridge.so.0}
runs=${3:-41}
loader=$build/bin/quorvel_bridge_load
[ -x "$loader" ] || { echo "load-cost: $loader is not built" >&2; exit 1; }
"$loader" "$library" >/dev/null # the first run warms the page cache
for _ in $(seq 1 "$runs"); do "$loader" "$library"; done | sort -n | awk -v lib="$library" '
  { t[NR] = $1; objects = $2 }
  END { printf "dlopen %s: median %.2f ms (min %.2f, max %.2f) over %d fresh processes, %d shared objects\n",
        lib, t[int((NR + 1) / 2)] / 1000, t[1] / 1000, t[NR] / 1000, NR, objects }'

#!/usr/bin/env bash
# Runs every benchmark of a build folder: the Google Benchmark programs (build/bin/*_bench) and the
# measuring scripts beside their sources (bench/<subsystem>/*.sh, given the build folder).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export QUORVEL_BUILD_DIR=$(cd "${1:-build}" && pwd)
export QUORVEL_SOURCE_DIR=$(cd "$here/.." && pwd)
status=0
for program in "$QUORVEL_BUILD_DIR"/bin/*_bench; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" ${BENCH_ARGS:-} || status=1
done
for script in "$QUORVEL_SOURCE_DIR"/bench/*/*.sh; do
  [ -x "$script" ] || continue
  echo "== ${script#"$QUORVEL_SOURCE_DIR/"}"
  "$script" "$QUORVEL_BUILD_DIR" || status=1
done
exit $status

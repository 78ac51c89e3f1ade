#!/usr/bin/env bash
# Runs every benchmark of a build folder: the Google Benchmark programs (build/bin/*_bench) and the
# measuring scripts beside their sources (bench/<subsystem>/*.sh, given the build folder).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export QUORVEL_BUILD_DIR=$(cd "${1:-build}" && pwd)
export QUORVEL_SOURCE_DIR=$(cd "$here/.." && pwd)
status=0
# Comparisons are interleaved: every benchmark of a program runs BENCH_REPETITIONS times, the
# repetitions of all its benchmarks in a random order (A, B, B, A, ...), so that a slow moment of
# the machine falls on both sides of a comparison; the median, mean and spread are reported.
# Benchmarks that set their own repetition count keep it.
interleaved=(--benchmark_repetitions="${BENCH_REPETITIONS:-5}" --benchmark_enable_random_interleaving=true
             --benchmark_report_aggregates_only=true)
for program in "$QUORVEL_BUILD_DIR"/bin/*_bench; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" "${interleaved[@]}" ${BENCH_ARGS:-} || status=1
done
for script in "$QUORVEL_SOURCE_DIR"/bench/*/*.sh; do
  [ -x "$script" ] || continue
  echo "== ${script#"$QUORVEL_SOURCE_DIR/"}"
  "$script" "$QUORVEL_BUILD_DIR" || status=1
done
exit $status

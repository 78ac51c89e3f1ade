#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time from its seed corpus.
# Usage: scripts/run-fuzz.sh [seconds-per-target] [build-folder]
set -euo pipefail
seconds=${1:-30}
build=${2:-build-fuzz}
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQUORVEL_BUILD_FUZZ=ON -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
status=0
for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target"); name=${name#fuzz_}
  work=$(mktemp -d)
  [ -d "$top/fuzz/corpus/$name" ] && cp -r "$top/fuzz/corpus/$name/." "$work/"
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/crash-$name-" "$work" 2>"$build/fuzz-$name.log"; then
    echo "fuzz: $name FAILED (see $build/fuzz-$name.log)"; tail -40 "$build/fuzz-$name.log"; status=1
  else
    grep -E 'stat::number_of_executed_units|cov:' "$build/fuzz-$name.log" | tail -1 || true
  fi
  rm -rf "$work"
done
exit $status

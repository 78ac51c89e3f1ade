#!/usr/bin/env bash
# Runs the whole test suite of a build folder. Integration and end-to-end tests start their own
# buses, keyrings and servers; nothing of the machine's own session is used.
set -euo pipefail
build=${1:-build}
jobs=${JOBS:-$(nproc)}
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs" ${CTEST_ARGS:-}

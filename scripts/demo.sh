#!/usr/bin/env bash
# The narrated demo. Runs every chapter in scripts/demo.d/ in order, in one temporary HOME with
# its own session bus, and ends every process it started, also when interrupted.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export QUORVEL_BUILD_DIR=$(cd "${1:-build}" && pwd)
export QUORVEL_SOURCE_DIR=$(cd "$here/.." && pwd)
source "$here/demo-lib.sh"

demo_begin
for chapter in "$here"/demo.d/*.sh; do
  [ -e "$chapter" ] || continue
  source "$chapter"
done
demo_end

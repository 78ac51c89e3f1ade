#!/usr/bin/env bash
# The library's dynamic symbol table holds exactly the functions the public header declares.
set -euo pipefail
library=$1 header=$2
declared=$(grep -oE 'QUORVEL_API [a-z0-9_ ]+\*? *(quorvel_[a-z_]+)\(' "$header" | grep -oE 'quorvel_[a-z_]+' | sort -u)
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | grep -v '^$' | sort -u)
count=$(printf '%s\n' "$declared" | grep -c .)
if [ "$declared" != "$exported" ]; then
  echo "declared but not exported:"; comm -23 <(printf '%s\n' "$declared") <(printf '%s\n' "$exported")
  echo "exported but not declared:"; comm -13 <(printf '%s\n' "$declared") <(printf '%s\n' "$exported")
  exit 1
fi
[ "$count" -eq 22 ] || { echo "expected 22 public functions, the header declares $count"; exit 1; }
echo "exports exactly the $count public functions"

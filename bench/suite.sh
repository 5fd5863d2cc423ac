#!/usr/bin/env bash
# `make bench`: runs every bench/run-*.sh one after the other (in name order) on BIN_DIR,
# stops at the first one that misses a target (exit 1) or fails (exit 2), and prints a table
# of every RESULT line seen so far. Exits with the status of the script that stopped it, or 0.
# Usage: bench/suite.sh BIN_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:?usage: bench/suite.sh BIN_DIR}
[ -d "$bin" ] || { echo "suite.sh: no folder $bin" >&2; exit 2; }
bin=$(cd "$bin" && pwd)
work="$(dirname "$bin")/bench-scratch/suite"
rm -rf "$work"
mkdir -p "$work"
results="$work/results"
touch "$results"

status=0
stopped=""
for script in "$here"/run-*.sh; do
  name=$(basename "$script")
  echo "== $name"
  "$script" "$bin" | tee "$work/out"
  status=${PIPESTATUS[0]}
  grep '^RESULT ' "$work/out" >>"$results" || true
  if [ "$status" -ne 0 ]; then
    stopped="$name exited with $status ($([ "$status" -eq 1 ] && echo "a target was missed" || echo "it failed"))"
    break
  fi
done

echo
echo "== summary"
awk 'BEGIN { printf "%-36s %10s %2s %8s  %s\n", "target", "measured", "op", "limit", "verdict" }
  { printf "%-36s %10s %2s %8s  %s\n", $2, $3, $4, $5, $6 }' "$results"
if [ -n "$stopped" ]; then
  echo "stopped: $stopped"
else
  echo "every target met"
fi
exit "$status"

#!/usr/bin/env bash
# Runs every benchmark in a fixed order, then prints the summary of each again.
#
# Usage: bench/all.sh [BUILD_DIR]   (what `make bench` runs)
# A runner that is not there is skipped with a message. The environment (RUNS, KEEP, ...)
# reaches every runner.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-build}

# name of the runner, and what it measures
runners=(
  "run.sh" "conversion: zelm against a minimal C driver"
  "scan.sh" "scan: zelm against a minimal C scanner"
  "list.sh" "list files: a long list against one mask run"
  "memory.sh" "memory: peak resident memory as the archives grow"
  "parallel.sh" "many cores: zelm-parallel against one zelm /r run"
)

out=$(mktemp -d "${TMPDIR:-/tmp}/zelm-bench-all.XXXXXX")
trap 'rm -rf "$out"' EXIT

failed=()
for ((i = 0; i < ${#runners[@]}; i += 2)); do
  name=${runners[i]}
  if [[ ! -f $here/$name ]]; then
    echo "bench: no bench/$name, skipped (${runners[i + 1]})"
    continue
  fi
  echo "=== bench/$name: ${runners[i + 1]}"
  bash "$here/$name" "$build" 2>&1 | tee "$out/$name"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || failed+=("$name")
  echo
done

echo "=== every ratio"
for ((i = 0; i < ${#runners[@]}; i += 2)); do
  name=${runners[i]}
  [[ -f $out/$name ]] || continue
  echo "--- bench/$name: ${runners[i + 1]}"
  # From the last "== summary" line on; without one, the lines with a ratio or a growth.
  awk '/^== summary/ { n = 0; on = 1 } { line[++n] = $0 }
    END { for (i = 1; i <= n; i++) if (on || line[i] ~ /ratio|speed-up|growth/) print line[i] }' \
    "$out/$name"
done
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "bench: failed: ${failed[*]}" >&2
  exit 1
fi

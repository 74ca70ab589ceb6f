#!/usr/bin/env bash
# List benchmark: a list file naming 10,000 files of one directory against one mask run there.
#
# Usage: bash bench/list.sh BUILD_DIR   (RUNS=5 timed runs each, COUNT=10000 files, KEEP=1)
# The directory holds COUNT files that no configured packer matches; the list names every one
# of them, one per line. Both runs read every file's first bytes and convert nothing. Goal:
# the list run takes less than twice the mask run (ratio < 2), medians of RUNS runs.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/scan_lib.sh"

build=$(build_dir "${1:-build}")
runs=${RUNS:-5}
count=${COUNT:-10000}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zelm-list.XXXXXX")
[[ ${KEEP:-0} = 1 ]] && echo "bench: keeping $tmp" || trap 'rm -rf "$tmp"' EXIT

private_zelm "$build" "$tmp/zelm" "$(no_match_config)"
signature_files "$tmp/dir" f "$count"
(cd "$tmp/dir" && printf '%s\n' f*) >"$tmp/names.lst"

cd "$tmp/dir"
mask_run() { "$tmp/zelm/zelm" '*.*'; }
list_run() { "$tmp/zelm/zelm" "@$tmp/names.lst"; }
mask_run >/dev/null # warm the cache
for ((r = 0; r < runs; r++)); do
  wall_ms mask_run >>"$tmp/mask.ms"
  wall_ms list_run >>"$tmp/list.ms"
done
mask_ms=$(median <"$tmp/mask.ms")
list_ms=$(median <"$tmp/list.ms")

awk -v n="$count" -v m="$mask_ms" -v l="$list_ms" 'BEGIN {
  printf "list: %d names in a directory of %d files; list run %.0f ms, mask run %.0f ms\n", n, n, l, m
  printf "list: ratio %.2f (list run over mask run; goal < 2)\n", l / (m > 0 ? m : 1)
}'

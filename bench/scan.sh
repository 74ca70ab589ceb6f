#!/usr/bin/env bash
# Scan benchmark: zelm's files per second against a minimal C scanner over 20,000 files.
#
# Usage: bash bench/scan.sh BUILD_DIR   (RUNS=7 timed runs each, KEEP=1 keeps the tree)
# A tree of 200 directories of 100 files each, their first bytes cycling through the
# signatures of common packers and foreign formats, is scanned by zelm (a configuration whose
# packers match none of them, so every file is opened, read and closed, and none converted)
# and by scan_reference.c, warm cache, medians of RUNS runs. Goal: ratio >= 0.8. The system
# calls per file of both (strace -c -f) are printed too.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/scan_lib.sh"

build=$(build_dir "${1:-build}")
runs=${RUNS:-7}
dirs=200
per_dir=100
files=$((dirs * per_dir))

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zelm-scan.XXXXXX")
[[ ${KEEP:-0} = 1 ]] && echo "bench: keeping $tmp" || trap 'rm -rf "$tmp"' EXIT

cc -O2 -o "$tmp/scan_reference" "$here/scan_reference.c" || die "cannot build the scanner"
private_zelm "$build" "$tmp/zelm" "$(no_match_config)"
for ((d = 0; d < dirs; d++)); do
  signature_files "$tmp/tree/d$(printf '%03d' "$d")" f "$per_dir"
done

cd "$tmp/tree"
zelm_scan() { "$tmp/zelm/zelm" '*.*' /r; }
reference_scan() { "$tmp/scan_reference" .; }
read_by_reference=$(reference_scan)
[[ $read_by_reference -eq $files ]] || die "the scanner read $read_by_reference of $files files"

zelm_scan >/dev/null # warm the cache
reference_scan >/dev/null
for ((r = 0; r < runs; r++)); do
  wall_ms zelm_scan >>"$tmp/zelm.ms"
  wall_ms reference_scan >>"$tmp/reference.ms"
done
zelm_ms=$(median <"$tmp/zelm.ms")
reference_ms=$(median <"$tmp/reference.ms")
zelm_calls=$(syscall_count "$tmp/zelm/zelm" '*.*' /r)
reference_calls=$(syscall_count "$tmp/scan_reference" .)

awk -v f="$files" -v z="$zelm_ms" -v s="$reference_ms" -v zc="$zelm_calls" -v sc="$reference_calls" 'BEGIN {
  printf "scan: %d files; zelm %.0f ms (%.0f files/s), scanner %.0f ms (%.0f files/s)\n", f, z, f * 1000 / z, s, f * 1000 / s
  if (zc != "?") printf "scan: system calls per file: zelm %.2f, scanner %.2f\n", zc / f, sc / f
  printf "scan: ratio %.2f (zelm files/s over the scanner'"'"'s; goal >= 0.8)\n", s / z
}'

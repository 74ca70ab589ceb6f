#!/usr/bin/env bash
# Memory benchmark: zelm's peak resident memory converting 1,000, 10,000 and 100,000 archives.
#
# Usage: bash bench/memory.sh BUILD_DIR   (COUNTS="1000 10000 100000", KEEP=1)
# One directory of N archives is converted with the recording stand-in packer (tests'
# recorder, from BUILD_DIR) playing both packers, so the packers cost next to nothing. Prints
# the maximum resident set size (/usr/bin/time -v: zelm or its largest child) for each N and
# the growth per archive between the smallest and the largest N, which should stay below what
# one listing entry costs (a few hundred bytes).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/scan_lib.sh"

build=$(build_dir "${1:-build}")
counts=(${COUNTS:-1000 10000 100000})
[[ -x $build/recorder ]] || die "no recorder in $build (build the recorder target)"
[[ -x /usr/bin/time ]] || die "no /usr/bin/time (apt-get install time)"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zelm-memory.XXXXXX")
[[ ${KEEP:-0} = 1 ]] && echo "bench: keeping $tmp" || trap 'rm -rf "$tmp"' EXIT

mkdir -p "$tmp/bin"
cp "$build/recorder" "$tmp/bin/xpk"
cp "$build/recorder" "$tmp/bin/ypk"
private_zelm "$build" "$tmp/zelm" $'DefaultPacker ypk\nDetect Ext\nLog No\nID\nExt xpk\nUnpack xpk x\nID\nExt ypk\nPack ypk a\n'

peak_kb() { # N
  rm -rf "$tmp/dir"
  mkdir -p "$tmp/dir"
  (cd "$tmp/dir" && for ((i = 0; i < $1; i++)); do : >"a$(printf '%06d' "$i").xpk"; done)
  (cd "$tmp/dir" && PATH="$tmp/bin:$PATH" RECORDER_LOG=/dev/null RECORDER_CREATE_ypk=@-1 \
    /usr/bin/time -v -o "$tmp/time.txt" "$tmp/zelm/zelm" '*.xpk' >/dev/null) ||
    die "the run over $1 archives failed"
  local left
  left=$(find "$tmp/dir" -name '*.xpk' | wc -l)
  [[ $left -eq 0 ]] || die "$left of $1 archives were not converted"
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$tmp/time.txt"
}

for n in "${counts[@]}"; do
  kb=$(peak_kb "$n")
  echo "memory: $n archives: peak $kb kB"
  echo "$n $kb" >>"$tmp/peaks"
done
awk 'NR == 1 { n0 = $1; k0 = $2 } { n1 = $1; k1 = $2 } END {
  if (n1 > n0) printf "memory: growth %.0f bytes per archive from %d to %d archives\n", (k1 - k0) * 1024 / (n1 - n0), n0, n1
}' "$tmp/peaks"

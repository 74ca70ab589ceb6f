#!/usr/bin/env bash
# Speed benchmark: zelm against a minimal C driver doing the same conversions.
#
# Usage: bench/run.sh [BUILD_DIR] [N]
#   BUILD_DIR  where zelm was built, relative to the checkout unless absolute (default: build)
#   N          archives per corpus (default: 200)
#   RUNS=5     timed runs per program and scenario (environment)
#   KEEP=1     keep the temporary directory for inspection (environment)
# Three programs are timed: zelm with the shipped configuration (log off); zelm with
# "Description No" and "Verify No" as well, which then runs the same packers as the driver
# (with Description Update and no catalog line it also extracts each new archive's
# description, running the target's unpack program once per Fileorder name; with Verify Yes
# it unpacks each new archive once more and compares); and the driver. Each run gets a fresh
# copy (cp -a, times kept) of the same corpus; the order of the programs rotates so load drift
# hits all alike.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-build}
[[ $build = /* ]] || build="$root/$build"
count=${2:-200}
runs=${RUNS:-5}
cfg="$root/dist/zelm.cfg"

die() { echo "bench: $*" >&2; exit 1; }

[[ -x $build/zelm ]] || die "no zelm in $build (run 'make build' first)"
[[ -f $cfg ]] || die "no $cfg"
[[ $count =~ ^[1-9][0-9]*$ ]] || die "N must be a positive number, not '$count'"
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive number, not '$runs'"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zelm-bench.XXXXXX")
if [[ ${KEEP:-0} = 1 ]]; then
  echo "bench: keeping $tmp"
else
  trap 'rm -rf "$tmp"' EXIT
fi

# --- packer templates, read from the configuration the program ships with -----------------
# The keys are tested in the program's own order (ID, Ext, Pack, Unpack, Test, Append), each
# matching the start of a line in any case; the value is the rest of the line.
# Prints "EXT<TAB>PACK<TAB>UNPACK<TAB>APPEND" for the packer whose Ext is $1 (any case).
packer_fields() {
  awk -v want="$1" '
    function rest(key) { s = substr($0, length(key) + 1); sub(/^[ \t]+/, "", s); return s }
    { sub(/\r$/, "") }
    toupper(substr($0, 1, 2)) == "ID" { n++; next }
    n == 0 { next }
    toupper(substr($0, 1, 3)) == "EXT" { ext[n] = rest("Ext"); next }
    toupper(substr($0, 1, 4)) == "PACK" { pack[n] = rest("Pack"); next }
    toupper(substr($0, 1, 6)) == "UNPACK" { unpack[n] = rest("Unpack"); next }
    toupper(substr($0, 1, 4)) == "TEST" { next }
    toupper(substr($0, 1, 6)) == "APPEND" { append[n] = rest("Append"); next }
    END {
      for (i = 1; i <= n; i++) {
        if (toupper(ext[i]) == toupper(want)) {
          printf "%s\t%s\t%s\t%s\n", ext[i], pack[i], unpack[i], append[i]
          exit
        }
      }
    }' "$cfg"
}

# Sets EXT, PACK, UNPACK, APPEND for the packer named $1.
load_packer() {
  local line
  line=$(packer_fields "$1")
  [[ -n $line ]] || die "no packer with Ext $1 in $cfg"
  IFS=$'\t' read -r EXT PACK UNPACK APPEND <<<"$line" || true
  [[ -n $PACK && -n $UNPACK ]] || die "packer $1 lacks a Pack or Unpack line in $cfg"
}

# --- the programs ---------------------------------------------------------------------------
cc -O2 -o "$tmp/driver" "$here/driver.c" || die "cannot build the driver"

# zelm reads zelm.cfg beside its executable: private copies keep the shipped file untouched
# and let the log be switched off (a log would only add the program's own writes).
private_zelm() {  # NAME AWK-FILTER
  mkdir -p "$tmp/$1"
  cp "$build/zelm" "$tmp/$1/zelm"
  awk "$2" "$cfg" >"$tmp/$1/zelm.cfg"
}
# shellcheck disable=SC2016 # awk programs, not shell expansions
no_log='toupper(substr($0, 1, 3)) != "LOG" { print } END { print "Log No" }'
# shellcheck disable=SC2016
no_desc='toupper(substr($0, 1, 3)) == "LOG" || toupper(substr($0, 1, 11)) == "DESCRIPTION" { next }
  toupper(substr($0, 1, 6)) == "VERIFY" { next }
  { print } END { print "Log No"; print "Description No"; print "Verify No" }'
private_zelm zelm "$no_log"
private_zelm zelm-nodesc "$no_desc"
programs=(zelm zelm-nodesc driver)

# --- corpora --------------------------------------------------------------------------------
make_corpus() {  # FORMAT DIR
  local format=$1 dir=$2
  mkdir -p "$dir"
  bash "$here/make_corpus.sh" "${format,,}" "$count" "$dir" >/dev/null ||
    die "make_corpus.sh $format failed"
  local made
  made=$(find "$dir" -maxdepth 1 -type f -iname "*.$format" | wc -l)
  [[ $made -eq $count ]] || die "make_corpus.sh $format made $made archives, not $count"
}

# --- timing ---------------------------------------------------------------------------------
# Checks that a run converted everything: N targets, no sources, no work directories.
check_result() {  # DIR SOURCE_EXT TARGET_EXT WHO
  local dir=$1 src=$2 dst=$3 who=$4 left made work
  left=$(find "$dir" -maxdepth 1 -type f -iname "*.$src" | wc -l)
  made=$(find "$dir" -maxdepth 1 -type f -iname "*.$dst" | wc -l)
  # shellcheck disable=SC2016 # the literal work directory names
  work=$(find "$dir" -maxdepth 1 -name '$TMP$.*' | wc -l)
  if [[ $left -ne 0 || $made -ne $count || $work -ne 0 ]]; then
    die "$who left $left sources, made $made of $count targets, left $work work directories in $dir"
  fi
}

# Median of the blank-separated numbers on standard input.
median() {
  tr -s ' ' '\n' | sort -g |
    awk 'NF { v[++n] = $1 } END { m = int((n + 1) / 2); print (n % 2) ? v[m] : (v[m] + v[m + 1]) / 2 }'
}

# Runs one program over DIR; prints "WALL_MS CPU_MS" (CPU: user + system of the program and
# of every packer it ran).
timed_run() {  # WHO DIR SOURCE_EXT TARGET_EXT
  local who=$1 dir=$2 src=$3 dst=$4 status=0 times
  local TIMEFORMAT='%3R %3U %3S'
  # Every program starts in the corpus directory, as a user converting it would.
  cd "$dir" || die "cannot enter $dir"
  if [[ $who = driver ]]; then
    times=$( { time "$tmp/driver" -q --unpack "$UNPACK_SRC" --unpack-append "$APPEND_SRC" \
      --pack "$PACK_DST" --pack-append "$APPEND_DST" --target-ext "$dst" --source-ext "$src" \
      . >/dev/null 2>&1 ; } 2>&1 ) || status=$?
  else
    times=$( { time "$tmp/$who/zelm" "*.$src" "/$dst" >/dev/null 2>&1 ; } 2>&1 ) || status=$?
  fi
  [[ $status -eq 0 ]] || die "$who failed (exit $status)"
  awk -v t="$times" 'BEGIN { split(t, f, " "); printf "%.1f %.1f\n", f[1] * 1000, (f[2] + f[3]) * 1000 }'
}

# One scenario: SOURCE_EXT TARGET_EXT. Prints the per-run times and the summary.
scenario() {
  local src=$1 dst=$2
  load_packer "$src"
  local src_ext=$EXT
  UNPACK_SRC=$UNPACK APPEND_SRC=$APPEND
  load_packer "$dst"
  local dst_ext=$EXT
  PACK_DST=$PACK APPEND_DST=$APPEND

  local corpus="$tmp/corpus-$src"
  make_corpus "$src" "$corpus"
  echo
  echo "== $src_ext -> $dst_ext: $count archives, $runs runs each"
  echo "   unpack: $UNPACK_SRC ../NAME $APPEND_SRC"
  echo "   pack:   $PACK_DST ../NAME $APPEND_DST"

  local -A walls=() cpus=() round_wall=()
  local r i who work="$tmp/work" wall cpu np=${#programs[@]}
  for ((r = 1; r <= runs; r++)); do
    for ((i = 0; i < np; i++)); do
      who=${programs[(i + r - 1) % np]}
      rm -rf "$work"
      cp -a "$corpus" "$work"
      sync
      wall='' cpu=''
      read -r wall cpu < <(timed_run "$who" "$work" "$src_ext" "$dst_ext") || true
      [[ -n $cpu ]] || die "run $r of $who did not finish"
      check_result "$work" "$src_ext" "$dst_ext" "$who"
      walls[$who]+="$wall "
      cpus[$who]+="$cpu "
      round_wall[$who.$r]=$wall
      printf '   run %d %-11s wall %9s ms   cpu %9s ms\n' "$r" "$who" "$wall" "$cpu"
    done
  done
  rm -rf "$work"

  local dw dc w c p
  dw=$(median <<<"${walls[driver]}")
  dc=$(median <<<"${cpus[driver]}")
  for who in "${programs[@]}"; do
    w=$(median <<<"${walls[$who]}")
    c=$(median <<<"${cpus[$who]}")
    # The ratio within each round, where the programs ran back to back, shrugs off slower
    # drift in the machine's load better than the ratio of the medians.
    p=$(for ((r = 1; r <= runs; r++)); do
      awk -v a="${round_wall[$who.$r]}" -v b="${round_wall[driver.$r]}" 'BEGIN { printf "%f ", a / b }'
    done | median)
    awk -v w="$w" -v c="$c" -v dw="$dw" -v dc="$dc" -v p="$p" -v n="$count" -v who="$who" \
      -v name="$src_ext->$dst_ext" -v summary="$tmp/summary" 'BEGIN {
      printf "   median %-11s wall %9.1f ms (%6.2f ms/archive)  cpu %9.1f ms (%6.2f ms/archive)\n",
        who, w, w / n, c, c / n
      if (who == "driver") exit
      printf "   %11s/driver: wall %.3f %s, %+.2f ms/archive; median of round ratios %.3f;",
        who, w / dw, (w / dw <= 1.05 ? "(within 1.05)" : "(ABOVE 1.05)"), (w - dw) / n, p
      printf " cpu %.3f, %+.2f ms/archive\n", c / dc, (c - dc) / n
      printf "%s\t%s\t%.1f\t%.1f\t%.3f\t%.3f\t%.3f\n", name, who, w, dw, w / dw, p, c / dc >> summary
    }'
  done
}

echo "zelm speed benchmark: $build/zelm, templates from $cfg"
scenario ZIP 7Z
scenario ARJ ZIP

echo
echo "== summary (median wall time per run of $count archives; goal: ratio <= 1.05)"
awk -F'\t' '{
  printf "   %-9s %-11s %9.1f ms  driver %9.1f ms  %+6.2f ms/archive  ratio %.3f  (rounds %.3f, cpu %.3f)\n",
    $1, $2, $3, $4, ($3 - $4) / n, $5, $6, $7 }' n="$count" "$tmp/summary"

#!/usr/bin/env bash
# Parallel benchmark: one `zelm /r` run against scripts/zelm-parallel over the same tree.
#
# Usage: bench/parallel.sh [BUILD_DIR] [N] [DIRS]
#   BUILD_DIR  where zelm was built, relative to the checkout unless absolute (default: build)
#   N          archives in the tree (default: 400), spread evenly over
#   DIRS       directories below its root (default: 8)
#   JOBS=2     the -j of the parallel run (environment; default: the number of cores)
#   RUNS=5     timed runs per program (environment)
#   KEEP=1     keep the temporary directory for inspection (environment)
#   CORPUS=DIR keep the tree in DIR and use it again when it is there (environment): making
#              it takes longer than a run
# Three programs convert the same ZIP tree to 7Z with the real packers (log off): `zelm /r`,
# zelm-parallel -j 1 (the cost of one run per directory) and zelm-parallel -j JOBS. Each run
# gets a fresh copy (cp -a) of the tree; the order of the programs rotates so that load
# drift hits all alike. The speed-up is the median wall time of `zelm /r` over that of the
# others; the goal is 1.8 at two jobs. Two configurations: the shipped one, whose 7zz packs
# with as many threads as there are cores (so one zelm run already keeps more than one core
# busy), and the same with one thread per packer (-mmt=1), which shows how the runs scale.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-build}
[[ $build = /* ]] || build="$root/$build"
count=${2:-400}
dirs=${3:-8}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
runs=${RUNS:-5}
cfg="$root/dist/zelm.cfg"
script="$root/scripts/zelm-parallel"

die() { echo "bench: $*" >&2; exit 1; }

[[ -x $build/zelm ]] || die "no zelm in $build (run 'make build' first)"
command -v parallel >/dev/null 2>&1 || die "GNU parallel is not installed (Debian package parallel)"
for number in "$count" "$dirs" "$jobs" "$runs"; do
  [[ $number =~ ^[1-9][0-9]*$ ]] || die "'$number' is not a positive number"
done
[[ $((count % dirs)) -eq 0 ]] || die "N ($count) must be a multiple of DIRS ($dirs)"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zelm-bench-parallel.XXXXXX")
if [[ ${KEEP:-0} = 1 ]]; then
  echo "bench: keeping $tmp"
else
  trap 'rm -rf "$tmp"' EXIT
fi

# zelm reads zelm.cfg beside its executable: private copies with the log off, and for
# "one-thread" with 7zz packing in one thread.
# shellcheck disable=SC2016 # awk programs
no_log='toupper(substr($0, 1, 3)) != "LOG" { print } END { print "Log No" }'
# shellcheck disable=SC2016
one_thread='toupper(substr($0, 1, 3)) == "LOG" { next }
  toupper(substr($0, 1, 4)) == "PACK" && $2 == "7zz" { sub(/ a /, " a -mmt=1 ") }
  { print } END { print "Log No" }'
for config in shipped one-thread; do
  mkdir -p "$tmp/$config"
  cp "$build/zelm" "$tmp/$config/zelm"
done
awk "$no_log" "$cfg" >"$tmp/shipped/zelm.cfg"
awk "$one_thread" "$cfg" >"$tmp/one-thread/zelm.cfg"
grep -q -- '-mmt=1' "$tmp/one-thread/zelm.cfg" || die "no 7zz Pack line in $cfg"

# The tree: d1 ... dDIRS below its root, N/DIRS archives each.
make_tree() {  # DIR
  local per=$((count / dirs)) d i
  rm -rf "$1"
  bash "$here/make_corpus.sh" zip "$count" "$1.all" >/dev/null || die "make_corpus.sh failed"
  for ((d = 1; d <= dirs; d++)); do
    mkdir -p "$1/d$d"
    for ((i = (d - 1) * per + 1; i <= d * per; i++)); do
      mv "$(printf '%s.all/c%07d.zip' "$1" "$i")" "$1/d$d/"
    done
  done
  rmdir "$1.all"
}
corpus=${CORPUS:-$tmp/corpus}
if [[ $(find "$corpus" -mindepth 2 -maxdepth 2 -name '*.zip' 2>/dev/null | wc -l) -ne $count ||
  $(find "$corpus" -mindepth 1 -maxdepth 1 -type d 2>/dev/null | wc -l) -ne $dirs ]]; then
  make_tree "$corpus"
fi

programs=(zelm-r parallel-j1 "parallel-j$jobs")

# Checks that a run converted everything: N targets, no sources, no work directories.
check_result() {  # DIR WHO
  local left made work
  left=$(find "$1" -type f -name '*.zip' | wc -l)
  made=$(find "$1" -type f -name '*.7z' | wc -l)
  # shellcheck disable=SC2016 # the literal work directory names
  work=$(find "$1" -name '$TMP$.*' | wc -l)
  if [[ $left -ne 0 || $made -ne $count || $work -ne 0 ]]; then
    die "$2 left $left sources, made $made of $count targets, left $work work directories"
  fi
}

median() {
  tr -s ' ' '\n' | sort -g |
    awk 'NF { v[++n] = $1 } END { m = int((n + 1) / 2); print (n % 2) ? v[m] : (v[m] + v[m + 1]) / 2 }'
}

# Runs one program with the zelm of CONFIG over DIR; prints "WALL_MS CPU_MS" (CPU: every
# process it ran).
timed_run() {  # WHO CONFIG DIR
  local who=$1 zelm=$tmp/$2/zelm status=0 times
  local TIMEFORMAT='%3R %3U %3S'
  cd "$3" || die "cannot enter $3"
  case $who in
    zelm-r) times=$( { time "$zelm" '*.zip' /r /7z >/dev/null 2>&1 ; } 2>&1 ) || status=$? ;;
    parallel-j*)
      times=$( { time "$script" --zelm "$zelm" -j "${who#parallel-j}" '*.zip' /7z \
        >/dev/null 2>&1 ; } 2>&1 ) || status=$?
      ;;
  esac
  [[ $status -eq 0 ]] || die "$who failed (exit $status)"
  awk -v t="$times" 'BEGIN { split(t, f, " "); printf "%.1f %.1f\n", f[1] * 1000, (f[2] + f[3]) * 1000 }'
}

# One configuration: every program RUNS times, then the medians into $tmp/summary.
scenario() {  # CONFIG
  local config=$1 r i who wall cpu np=${#programs[@]}
  local -A walls=() cpus=() round=()
  echo
  echo "== $config: $count archives in $dirs directories, $runs runs each"
  for ((r = 1; r <= runs; r++)); do
    for ((i = 0; i < np; i++)); do
      who=${programs[(i + r - 1) % np]}
      rm -rf "$tmp/work"
      cp -a "$corpus" "$tmp/work"
      sync
      wall='' cpu=''
      read -r wall cpu < <(timed_run "$who" "$config" "$tmp/work") || true
      [[ -n $cpu ]] || die "run $r of $who did not finish"
      check_result "$tmp/work" "$who"
      walls[$who]+="$wall " cpus[$who]+="$cpu " round[$who.$r]=$wall
      printf '   run %d %-12s wall %9s ms   cpu %9s ms\n' "$r" "$who" "$wall" "$cpu"
    done
  done
  rm -rf "$tmp/work"
  local base w c p
  base=$(median <<<"${walls[zelm-r]}")
  for who in "${programs[@]}"; do
    w=$(median <<<"${walls[$who]}")
    c=$(median <<<"${cpus[$who]}")
    # Within each round the programs ran back to back: their ratio shrugs off slow load drift.
    p=$(for ((r = 1; r <= runs; r++)); do
      awk -v a="${round[zelm-r.$r]}" -v b="${round[$who.$r]}" 'BEGIN { printf "%f ", a / b }'
    done | median)
    awk -v config="$config" -v who="$who" -v w="$w" -v c="$c" -v base="$base" -v p="$p" \
      -v n="$count" 'BEGIN {
      printf "   %-10s %-12s wall %8.1f ms (%5.2f ms/archive)  cpu/wall %.2f  speed-up %.2f (rounds %.2f)\n",
        config, who, w, w / n, c / w, base / w, p }' >>"$tmp/summary"
  done
}

echo "zelm parallel benchmark: $build/zelm, ZIP -> 7Z, $(nproc 2>/dev/null || echo '?') cores;" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
scenario shipped
scenario one-thread
echo
echo "== summary (median wall times of $runs runs of $count archives; cpu/wall: cores kept busy;" \
  "goal: speed-up >= 1.8 at 2 jobs; load average now $(cut -d' ' -f1-3 /proc/loadavg))"
cat "$tmp/summary"

# Helpers shared by the scan, list and memory benchmarks (sourced, not run).

die() {
  echo "bench: $*" >&2
  exit 1
}

# The build directory named by $1, made absolute; dies when it holds no zelm.
build_dir() {
  local build=${1:-build} root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  [[ $build = /* ]] || build="$root/$build"
  [[ -x $build/zelm ]] || die "no zelm in $build (build it first)"
  echo "$build"
}

# A private copy of zelm in DIR with CONFIG as its zelm.cfg.
private_zelm() { # BUILD DIR CONFIG
  mkdir -p "$2"
  cp "$1/zelm" "$2/zelm"
  printf '%s' "$3" >"$2/zelm.cfg"
}

# A configuration of five packers whose signatures stand in no benchmark file,
# so that every file is read and none is converted.
no_match_config() {
  local i
  printf 'DefaultPacker zb1\nDetect ID\nLog No\nKeepTime Yes\n'
  for i in 1 2 3 4 5; do
    printf 'ID 00 5A42300%d\nExt zb%d\nPack true\nUnpack true\n' "$i" "$i"
  done
}

# Writes COUNT files named PREFIX00000... into DIR, their first bytes cycling
# through the signatures of common packers and of foreign formats.
signature_files() { # DIR PREFIX COUNT
  local heads=('7z\xbc\xaf\x27\x1c' 'PK\x03\x04' '\x60\xea' '\x00\x00-lh5-' '\x1a\x08'
    '\x89PNG\r\n\x1a\n' 'GIF89a' '\x7fELF' '%%PDF-1.4' 'plain text')
  local pad i
  pad=$(printf '%0200d' 0)
  mkdir -p "$1"
  for ((i = 0; i < $3; i++)); do
    printf "${heads[i % ${#heads[@]}]}%s" "$pad" >"$1/$2$(printf '%05d' "$i")"
  done
}

# Milliseconds of wall time the command takes (its output goes to /dev/null).
wall_ms() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 || die "failed: $*"
  local end=$EPOCHREALTIME
  echo $(((${end/./} - ${start/./}) / 1000))
}

# Median of the numbers on standard input, one per line.
median() {
  sort -g | awk '{ v[++n] = $1 } END { m = int((n + 1) / 2); print (n % 2) ? v[m] : (v[m] + v[m + 1]) / 2 }'
}

# System calls the command makes, children included (strace -c -f).
syscall_count() {
  command -v strace >/dev/null || {
    echo "?"
    return
  }
  local out
  out=$(mktemp)
  strace -c -f -o "$out" "$@" >/dev/null 2>&1 || true
  awk '$NF == "total" { print $4 }' "$out"
  rm -f "$out"
}

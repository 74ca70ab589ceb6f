#!/usr/bin/env bash
# Tries the README's two set-up commands on a bare Debian 12 (debootstrap
# minbase: no make, git or sudo), as root and as a user with sudo, then
# builds the Debian package there, installs it with dpkg -i and converts an
# archive with the installed program. Prints how long each step took.
#
#   sudo scripts/fresh-machine-check.sh [--keep] [--root-only] [WORKDIR]
#
# Needs root, debootstrap (installed when missing) and network access to the
# Debian mirror (MIRROR, default http://deb.debian.org/debian). Each machine
# runs in its own mount namespace, so nothing stays mounted when it ends.
# WORKDIR (default: a new directory below /var/tmp) is removed at the end
# unless --keep is given. Not part of CI: it takes a quarter of an hour.
set -euo pipefail

mirror=${MIRROR:-http://deb.debian.org/debian}
suite=bookworm
keep=0
both=1
work=""
for arg in "$@"; do
  case "$arg" in
    --keep) keep=1 ;;
    --root-only) both=0 ;;
    -*) echo "unknown option: $arg" >&2; exit 2 ;;
    *) work=$arg ;;
  esac
done

[ "$(id -u)" -eq 0 ] || { echo "run as root (debootstrap and chroot need it)" >&2; exit 2; }
tree=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap
fi
[ -n "$work" ] || work=$(mktemp -d /var/tmp/zelm-fresh.XXXXXX)
mkdir -p "$work"
work=$(cd "$work" && pwd)

report=()
step() {  # step LABEL COMMAND...: runs and times one step, stops at a failure
  local label=$1 start end
  shift
  echo "== $label"
  start=$(date +%s)
  if ! "$@"; then
    echo "FAILED: $label" >&2
    exit 1
  fi
  end=$(date +%s)
  report+=("$(printf '%-54s %4d s' "$label" $((end - start)))")
}

# Runs a shell command inside the machine at $1 (as root), with /proc, /dev
# and name resolution; the mounts live in a private namespace and vanish
# with it.
in_machine() {
  local root=$1
  shift
  cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
  # sudo looks the host's own name up.
  grep -qs " $(hostname)\$" "$root/etc/hosts" || echo "127.0.1.1 $(hostname)" >>"$root/etc/hosts"
  unshare --mount --propagation private --pid --fork -- sh -c '
    root=$1; shift
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    exec chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/sh -c "$1"
  ' sh "$root" "$*"
}

copy_tree() {  # copy_tree ROOT DIR: the source tree, without builds or git
  mkdir -p "$1$2"
  tar -C "$tree" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$1$2" -xf -
}

# The package installs with dpkg alone, and the installed program converts.
package_check() {  # package_check ROOT RUN_AS SUDO DIR
  local root=$1 as=$2 sudo=$3 dir=$4
  in_machine "$root" "$as 'cd $dir && make deb && $sudo dpkg -i $dir/build/zelm_*.deb &&
    test -L /usr/lib/zelm/zelm.cfg && rm -rf /tmp/conv && mkdir /tmp/conv && cd /tmp/conv &&
    echo text >a.txt && 7zz a -tzip -bso0 old.zip a.txt && rm a.txt &&
    zelm --version && zelm old.zip /7z && test -f old.7z && test ! -e old.zip'"
}

base="$work/base"
step "debootstrap --variant=minbase $suite" sh -c \
  "debootstrap --variant=minbase $suite '$base' '$mirror' >'$work/debootstrap.log' 2>&1"
for tool in make git sudo; do
  if [ -e "$base/usr/bin/$tool" ]; then echo "the bare machine has $tool already" >&2; fi
done

# As root on the bare machine.
rootfs="$work/as-root"
cp -a "$base" "$rootfs"
copy_tree "$rootfs" /root/zelm
step "root: sh scripts/make.sh demo (installs make etc.)" \
  in_machine "$rootfs" "cd /root/zelm && sh scripts/make.sh demo"
step "root: sh scripts/make.sh test" in_machine "$rootfs" "cd /root/zelm && sh scripts/make.sh test"
step "root: make deb, dpkg -i, convert with /usr/bin/zelm" \
  package_check "$rootfs" "sh -c" "" /root/zelm

# As a user who may use sudo, on a second bare machine.
if [ "$both" -eq 1 ]; then
  userfs="$work/as-user"
  cp -a "$base" "$userfs"
  step "user: install sudo, add user tester" in_machine "$userfs" "
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q sudo &&
    useradd -m tester && echo 'tester ALL=(ALL) NOPASSWD: ALL' >/etc/sudoers.d/tester &&
    chmod 0440 /etc/sudoers.d/tester"
  copy_tree "$userfs" /home/tester/zelm
  in_machine "$userfs" "chown -R tester:tester /home/tester/zelm"
  as_tester="runuser -u tester -- env HOME=/home/tester sh -c"
  step "user: sh scripts/make.sh demo (installs with sudo)" \
    in_machine "$userfs" "$as_tester 'cd /home/tester/zelm && sh scripts/make.sh demo'"
  step "user: sh scripts/make.sh test" \
    in_machine "$userfs" "$as_tester 'cd /home/tester/zelm && sh scripts/make.sh test'"
  step "user: make deb, sudo dpkg -i, convert" \
    package_check "$userfs" "$as_tester" sudo /home/tester/zelm
fi

echo
echo "== Fresh-machine check passed ($(nproc) cores)"
printf '%s\n' "${report[@]}"

if [ "$keep" -eq 0 ]; then
  # Nothing may be mounted below the machines before they go.
  if grep -q " $work/" /proc/self/mounts; then
    echo "something is still mounted below $work: left in place" >&2
  else
    rm -rf "$work"
  fi
fi

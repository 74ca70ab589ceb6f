#!/usr/bin/env bash
# Installs the cross compiler and 32-bit wine that the Windows build and its tests need, when missing.
set -euo pipefail

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive

updated=no
update_once() {
  if [ "$updated" = no ]; then
    $sudo_cmd apt-get update -q
    updated=yes
  fi
}

if ! have_pkg g++-mingw-w64-i686; then
  echo "Installing: g++-mingw-w64-i686"
  update_once
  $sudo_cmd apt-get install -y -q --no-install-recommends g++-mingw-w64-i686
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo_cmd dpkg --add-architecture i386
  updated=no
fi

if ! have_pkg wine || ! have_pkg wine32:i386; then
  echo "Installing: wine wine32:i386"
  update_once
  $sudo_cmd apt-get install -y -q wine wine32:i386
fi

#!/usr/bin/env bash
# Installs what the Windows build and its tests need, when it is missing: the
# MinGW-w64 cross compiler, GoogleTest's sources and 32-bit wine.
set -euo pipefail

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive

need=()
have_pkg g++-mingw-w64-i686 || need+=(g++-mingw-w64-i686)
have_pkg googletest || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  $sudo_cmd apt-get update -q
  $sudo_cmd apt-get install -y -q --no-install-recommends "${need[@]}"
fi

# wine32 is an i386 package: the architecture must be known before it is.
if ! have_pkg wine || ! have_pkg wine32:i386; then
  echo "Installing: wine wine32:i386"
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo_cmd dpkg --add-architecture i386
  $sudo_cmd apt-get update -q
  $sudo_cmd apt-get install -y -q wine wine32:i386
fi

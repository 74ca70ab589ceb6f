#!/usr/bin/env bash
# Installs what building, testing, the manual page check and the demo need,
# when it is missing, from the Debian archive (as root, or with sudo).
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd g++ || need+=(g++)
have_cmd make || need+=(make)
have_pkg libgtest-dev || need+=(libgtest-dev)
have_cmd zip || need+=(zip)
have_cmd unzip || need+=(unzip)
have_cmd 7zz || need+=(7zip)
have_cmd arj || need+=(arj)
have_cmd arc || need+=(arc)
have_cmd jlha || need+=(jlha-utils)
have_cmd lhasa || need+=(lhasa)
have_cmd groff || need+=(groff-base)
have_cmd parallel || need+=(parallel)

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo_cmd=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! have_cmd sudo; then
      echo "Installing needs root: run this as root, or install sudo first." >&2
      exit 1
    fi
    sudo_cmd="sudo"
  fi
  # sudo clears the environment: the frontend is passed on explicitly.
  $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo_cmd env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${need[@]}"
fi

#!/bin/sh
# make on a machine that may not have it yet: installs what building, the
# tests and the demo need (make included; with sudo when not root), then
# runs make here with the same arguments: `sh scripts/make.sh test`.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
exec make -C "$root" "$@"

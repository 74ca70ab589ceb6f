#!/usr/bin/env bash
# Makes a small collection of old-format archives, catalogs it and converts
# it into a mirrored tree of ZIP archives with the default configuration.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && mkdir -p "$build" && cd "$build" && pwd)
zelm="$build/zelm"
demo="$build/demo"
out="$build/demo-out"

bash "$root/scripts/make-demo-tree.sh" "$demo" >/dev/null
rm -rf "$out"
mkdir -p "$out"

show_tree() {
  (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while read -r p; do
    if [ -d "$p" ]; then printf '  %s/\n' "${p#./}"; else printf '  %-40s %8s bytes\n' "${p#./}" "$(stat -c %s "$p")"; fi
  done)
}

show_catalogs() {
  (cd "$1" && find . \( -iname 'files.bbs' -o -iname 'descript.ion' \) -print | LC_ALL=C sort |
    while read -r catalog; do
      echo "-- $catalog"
      tr -d '\r' <"$catalog" | sed 's/^/  /'
    done)
}

echo "== The collection in $demo"
show_tree "$demo"

echo
echo "== A description catalog for cdrom/, which has none: zelm '*.*' /r /md"
(cd "$demo/cdrom" && "$zelm" '*.*' /r /md)
echo
echo "== The catalogs before the conversion"
show_catalogs "$demo"

echo
echo "== Conversion to ZIP: zelm '*.*' /r /d /d:$out"
(cd "$demo" && "$zelm" '*.*' /r /d "/d:$out")

echo "== The converted tree in $out"
show_tree "$out"
echo
echo "== The catalogs, carried over to the new names"
show_catalogs "$out"

#!/bin/sh
# make_corpus.sh FORMAT N DIR
#
# Writes N archives of one format into DIR for benchmarks, using the real
# packer.  FORMAT is one of: zip 7z arj lzh arc.  Each archive holds 3 to 10
# members of a few hundred bytes up to 64 KiB of word-like text, so every
# packer has something to compress.  The content, member names, member
# times and archive names depend only on FORMAT's packer and the archive
# number, never on the clock or on random sources, so two runs give the same
# members.  Archive names are c0000001.<fmt>, c0000002.<fmt>, ... (8.3 safe,
# lower case like the extensions in dist/zelm.cfg).
#
# Packers: zip (Info-ZIP zip), 7z (7zz), arj (arj), lzh (jlha), arc (arc).

set -eu

usage() {
    echo "usage: $0 FORMAT N DIR   (FORMAT: zip 7z arj lzh arc)" >&2
    exit 2
}

[ $# -eq 3 ] || usage
fmt=$1
count=$2
dir=$3

case $fmt in
    zip) tool=zip pkg=zip ;;
    7z) tool=7zz pkg=7zip ;;
    arj) tool=arj pkg=arj ;;
    lzh) tool=jlha pkg=jlha-utils ;;
    arc) tool=arc pkg=arc ;;
    *) usage ;;
esac
# Decimal digits without a leading zero (sh arithmetic reads 010 as 8).
case $count in
    '' | 0* | *[!0-9]* | ????????*) usage ;;
esac
command -v "$tool" >/dev/null 2>&1 || {
    echo "$0: '$tool' not found (Debian package $pkg)" >&2
    exit 1
}

# DOS-time formats store local time: fix the zone so the archives agree.
TZ=UTC
export TZ
LC_ALL=C
export LC_ALL

mkdir -p "$dir"
out=$(cd "$dir" && pwd)
stage=$(mktemp -d "${TMPDIR:-/tmp}/corpus.XXXXXX")
trap 'rm -rf "$stage"' EXIT
trap 'exit 1' HUP INT TERM

# gen START SIZE: SIZE bytes of text lines built from a fixed vocabulary.
# Park-Miller generator in plain doubles (products stay below 2^53), so
# every awk gives the same bytes.
gen() {
    awk -v start="$1" -v size="$2" 'BEGIN {
        n = split("the of and archive file data packer block table index " \
            "header member record value stream buffer offset length crc " \
            "window match literal symbol tree node level code bits byte " \
            "word line page disk track sector volume label comment date " \
            "time name path entry list count total size mode flag " \
            "0 1 2 3 4 5 6 7 8 9 10 16 32 64 128 256 512 1024", w, " ")
        x = (start * 7919 + 12345) % 2147483647
        if (x == 0) x = 1
        out = ""
        len = 0
        line = ""
        while (len < size) {
            x = (x * 16807) % 2147483647
            word = w[int(x % n) + 1]
            if (length(line) + length(word) + 1 > 72) {
                out = line "\r\n"
                if (len + length(out) > size) break
                printf "%s", out
                len += length(out)
                line = ""
            }
            line = (line == "") ? word : line " " word
        }
        rest = size - len
        if (rest > 0) printf "%s", substr(line "\r\n" line, 1, rest)
    }'
}

# next VALUE: one step of the same generator, printed.
next_rand() {
    echo $(( ($1 * 16807) % 2147483647 ))
}

i=1
while [ "$i" -le "$count" ]; do
    name=$(printf 'c%07d' "$i")
    target=$out/$name.$fmt
    rm -f "$target"
    rm -rf "$stage/m"
    mkdir "$stage/m"

    r=$(next_rand $((i * 48271 + 1)))
    members=$((3 + r % 8))
    j=1
    list=
    while [ "$j" -le "$members" ]; do
        r=$(next_rand "$r")
        size=$((200 + r % (65536 - 200 + 1)))
        case $((j % 3)) in
            0) member=$(printf 'DATA%02d.DAT' "$j") ;;
            1) member=$(printf 'TEXT%02d.TXT' "$j") ;;
            *) member=$(printf 'PART%02d.DOC' "$j") ;;
        esac
        gen $((i * 100 + j)) "$size" >"$stage/m/$member"
        # 1996-01-01 00:00 UTC plus a per-member offset.
        touch -d "@$((820454400 + i * 86400 + j * 3600))" "$stage/m/$member"
        list="$list $member"
        j=$((j + 1))
    done

    (
        cd "$stage/m"
        # $list holds plain 8.3 names only: word splitting is intended.
        # shellcheck disable=SC2086
        case $fmt in
            zip) zip -q -X "$target" $list ;;
            7z) 7zz a -t7z -y -bd -bso0 -bsp0 "$target" $list ;;
            arj) arj a -+ -i -y "$target" $list >/dev/null ;;
            lzh) jlha aq "$target" $list ;;
            arc) arc awn "$target" $list >/dev/null ;;
        esac
    ) </dev/null
    [ -s "$target" ] || {
        echo "$0: $tool did not write $target" >&2
        exit 1
    }
    i=$((i + 1))
done

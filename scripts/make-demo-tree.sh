#!/bin/sh
# make-demo-tree.sh DIR
#
# Builds a small BBS-style file area under DIR to try zelm on:
#
#   DIR/README.TXT                  plain file, not an archive
#   DIR/bbs/games/files.bbs         catalog of the three game archives
#   DIR/bbs/games/TETRIX.ZIP        zip: FILE_ID.DIZ (double frame), subdir
#   DIR/bbs/games/SPACEWAR.ARJ      arj: FILE_ID.DIZ (double frame), subdir
#   DIR/bbs/games/QUEST.LZH         lzh: FILE_ID.DIZ (single frame), subdir
#   DIR/bbs/utils/PKTOOLS.ARC       arc: FILE_ID.DIZ (double frame), flat
#   DIR/bbs/utils/EDITOR.7Z         7z:  FILE_ID.DIZ, "READ ME.TXT", subdir
#   DIR/bbs/utils/NODIZ.ZIP         zip without any description file
#   DIR/bbs/utils/OLDTOOL.ZIP       an ARJ archive with a .ZIP name
#   DIR/bbs/utils/descript.ion      catalog of the utilities
#   DIR/cdrom/docs/MANUALS.ZIP      zip: lower-case file_id.diz, blanks in
#                                   a directory and a member name
#   DIR/cdrom/docs/SDIDEMO.ARJ      arj: DESC.SDI only
#   DIR/cdrom/docs/NOTES.LZH        lzh: "MY NOTES.TXT", no description
#   DIR/incoming/                   empty directory
#
# The FILE_ID.DIZ files are code page 437 text with box-drawing frames and
# CR LF line ends.  Member contents and times are fixed, so every run gives
# the same members.  DIR is removed first; to keep an unrelated directory
# from being wiped by a typo, an existing non-empty DIR must hold the marker
# file .demo-tree that this script leaves behind.
#
# Needs: zip, 7zz (7zip), arj, jlha (jlha-utils), arc.

set -eu

[ $# -eq 1 ] || {
    echo "usage: $0 DIR" >&2
    exit 2
}
dir=$1
marker=.demo-tree

case $dir in
    '' | / | . | ..) echo "$0: refusing to use '$dir'" >&2; exit 2 ;;
esac
for tool in zip 7zz arj jlha arc; do
    command -v "$tool" >/dev/null 2>&1 || {
        echo "$0: '$tool' not found" >&2
        exit 1
    }
done
if [ -e "$dir" ]; then
    if [ -n "$(ls -A "$dir" 2>/dev/null)" ] && [ ! -f "$dir/$marker" ]; then
        echo "$0: $dir exists and was not made by this script" >&2
        exit 1
    fi
    rm -rf "$dir"
fi

TZ=UTC LC_ALL=C
export TZ LC_ALL
mkdir -p "$dir"
root=$(cd "$dir" && pwd)
: >"$root/$marker"
stage=$(mktemp -d "${TMPDIR:-/tmp}/demo-tree.XXXXXX")
trap 'rm -rf "$stage"' EXIT
trap 'exit 1' HUP INT TERM

# Code page 437 frame characters.
H2=$(printf '\315') V2=$(printf '\272')                   # double lines
TL2=$(printf '\311') TR2=$(printf '\273')
BL2=$(printf '\310') BR2=$(printf '\274')
H1=$(printf '\304') V1=$(printf '\263')                   # single lines
TL1=$(printf '\332') TR1=$(printf '\277')
BL1=$(printf '\300') BR1=$(printf '\331')
SHADE=$(printf '\261')
CR=$(printf '\r')

# rule CHAR: 38 copies of CHAR.
rule() {
    r=
    k=0
    while [ $k -lt 38 ]; do
        r=$r$1
        k=$((k + 1))
    done
    printf '%s' "$r"
}

# diz STYLE FILE LINE...: a framed description, 40 columns, CR LF ends.
diz() {
    if [ "$1" = double ]; then
        h=$H2 v=$V2 tl=$TL2 tr=$TR2 bl=$BL2 br=$BR2
    else
        h=$H1 v=$V1 tl=$TL1 tr=$TR1 bl=$BL1 br=$BR1
    fi
    f=$2
    shift 2
    {
        printf '%s%s%s%s\n' "$tl" "$(rule "$h")" "$tr" "$CR"
        for line in "$@"; do
            printf '%s %-36s %s%s\n' "$v" "$line" "$v" "$CR"
        done
        printf '%s%s%s%s\n' "$bl" "$(rule "$h")" "$br" "$CR"
    } >"$f"
}

# text FILE LINE...: a small CR LF text file.
text() {
    f=$1
    shift
    for line in "$@"; do
        printf '%s%s\n' "$line" "$CR"
    done >"$f"
}

# fake_binary FILE N: N bytes of fixed non-text content.
fake_binary() {
    awk -v n="$2" 'BEGIN {
        printf "MZ"
        for (k = 2; k < n; k++) printf "%c", (k * 7 + 3) % 94 + 33
    }' >"$1"
}

# fresh NAME: empty staging directory $stage/NAME, made current.
fresh() {
    rm -rf "${stage:?}/$1"
    mkdir -p "$stage/$1"
    cd "$stage/$1"
}

# stamp DATE: give every staged file and directory the time DATE.
stamp() {
    find . -exec touch -d "$1" {} +
}

mkdir -p "$root/bbs/games" "$root/bbs/utils" "$root/cdrom/docs" \
    "$root/incoming"
text "$root/README.TXT" "Demo file area for zelm." \
    "The archives below bbs/ and cdrom/ are made by the real packers."

# --- bbs/games -----------------------------------------------------------
fresh tetrix
diz double FILE_ID.DIZ "TETRIX v1.2" "Falling blocks for DOS and VGA." \
    "$SHADE$SHADE Freeware $SHADE$SHADE"
fake_binary TETRIX.EXE 3000
text README.TXT "TETRIX 1.2" "Use the cursor keys to move the blocks."
mkdir LEVELS
text LEVELS/LEVEL1.DAT "0000000000" "0001111000"
text LEVELS/LEVEL2.DAT "0011111100" "0111111110"
stamp '1994-03-12 10:20:30'
zip -q -r -X "$root/bbs/games/TETRIX.ZIP" FILE_ID.DIZ TETRIX.EXE \
    README.TXT LEVELS

fresh spacewar
diz double FILE_ID.DIZ "SPACEWAR 2.0" "Two ships, one star, no mercy." \
    "Shareware, register for more maps."
fake_binary SPACEWAR.EXE 5000
mkdir MAPS
text MAPS/ORBIT.MAP "star 40 12" "ship 10 5" "ship 70 20"
text ORDER.FRM "Name:" "Address:"
stamp '1995-07-01 08:00:00'
arj a -+ -i -r -y "$root/bbs/games/SPACEWAR.ARJ" >/dev/null </dev/null

fresh quest
diz single FILE_ID.DIZ "QUEST for the Lost Byte" "Text adventure, 40 rooms."
fake_binary QUEST.EXE 4000
mkdir SAVE
text SAVE/SLOT1.SAV "room 1" "lamp yes"
stamp '1993-11-23 23:59:58'
jlha aq "$root/bbs/games/QUEST.LZH" FILE_ID.DIZ QUEST.EXE SAVE </dev/null

text "$root/bbs/games/files.bbs" \
    "TETRIX.ZIP   Falling blocks game" \
    "SPACEWAR.ARJ Space duel" \
    "QUEST.LZH    Text adventure"

# --- bbs/utils -----------------------------------------------------------
fresh pktools
diz double FILE_ID.DIZ "PKTOOLS 1.1" "Packet tools for FidoNet mailers."
fake_binary PKSORT.EXE 2500
fake_binary PKVIEW.EXE 1800
text PKTOOLS.DOC "PKSORT sorts packets." "PKVIEW shows them."
stamp '1992-02-29 12:00:00'
arc awn "$root/bbs/utils/PKTOOLS.ARC" FILE_ID.DIZ PKSORT.EXE PKVIEW.EXE \
    PKTOOLS.DOC >/dev/null </dev/null

fresh editor
diz single FILE_ID.DIZ "EDITOR 3.0" "Small text editor with macros."
fake_binary ED.EXE 6000
text "READ ME.TXT" "Start with ED FILE.TXT"
mkdir MACROS
text MACROS/C.MAC "indent 4"
stamp '1997-09-09 09:09:08'
7zz a -t7z -y -bd -bso0 -bsp0 "$root/bbs/utils/EDITOR.7Z" FILE_ID.DIZ \
    ED.EXE "READ ME.TXT" MACROS </dev/null

fresh nodiz
text CALC.TXT "Desk calculator, no description inside."
fake_binary CALC.EXE 1200
stamp '1996-04-04 04:04:04'
zip -q -X "$root/bbs/utils/NODIZ.ZIP" CALC.TXT CALC.EXE

fresh oldtool
diz double FILE_ID.DIZ "OLDTOOL" "An ARJ archive named .ZIP."
fake_binary OLDTOOL.COM 700
stamp '1991-01-01 01:01:02'
arj a -+ -i -y "$root/bbs/utils/OLDTOOL.ZIP" FILE_ID.DIZ OLDTOOL.COM \
    >/dev/null </dev/null
# arj always adds its own extension when the name has none; here the name
# has one, so check that arj kept it.
[ -f "$root/bbs/utils/OLDTOOL.ZIP" ]

text "$root/bbs/utils/descript.ion" \
    "PKTOOLS.ARC FidoNet packet tools" \
    "EDITOR.7Z Text editor" \
    "NODIZ.ZIP Calculator"

# --- cdrom/docs ----------------------------------------------------------
fresh manuals
diz single file_id.diz "MANUALS" "Printed manuals as plain text."
mkdir "chapter 1"
text "chapter 1/intro.txt" "Welcome."
text "chapter 1/first steps.txt" "Step one: read the manual."
text index.txt "chapter 1"
stamp '1998-12-24 18:00:00'
zip -q -r -X "$root/cdrom/docs/MANUALS.ZIP" file_id.diz index.txt \
    "chapter 1"

fresh sdidemo
text DESC.SDI "SDI demo: only a DESC.SDI inside."
text SDI.TXT "Nothing else here."
stamp '1995-05-05 05:05:06'
arj a -+ -i -y "$root/cdrom/docs/SDIDEMO.ARJ" DESC.SDI SDI.TXT \
    >/dev/null </dev/null

fresh notes
text "MY NOTES.TXT" "Meeting notes, 1996."
text TODO.TXT "Back up the BBS."
stamp '1996-06-06 06:06:06'
jlha aq "$root/cdrom/docs/NOTES.LZH" "MY NOTES.TXT" TODO.TXT </dev/null

cd "$root"
# Fixed archive times too, so listings look the same on every run.
find . -type f ! -name "$marker" -exec touch -d '2000-01-01 00:00:00' {} +

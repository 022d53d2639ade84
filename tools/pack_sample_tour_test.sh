#!/usr/bin/env bash
# The sample tour, a web export, through morva-pack and back: build with
# --page, check, list, extract, and what comes out is what went in plus the
# two files the packer made.
#
#   pack_sample_tour_test.sh MORVA_PACK SAMPLE_TOUR_DIR SCRATCH_DIR [PLAYER]
#
# SAMPLE_TOUR_DIR is the assembled tour (the sample_tour target). Without
# PLAYER a small stand-in file serves as the player's bytes. Exits 77
# (skipped) when the tour could not be assembled for want of the npm
# registry.
set -euo pipefail

if [ $# -lt 3 ] || [ $# -gt 4 ]; then
  echo "usage: $0 MORVA_PACK SAMPLE_TOUR_DIR SCRATCH_DIR [PLAYER]" >&2
  exit 2
fi
pack=$1
tour_dir=$2
if [ ! -f "$tour_dir/pannellum/pannellum.js" ]; then
  echo "SKIPPED: the sample tour in $tour_dir is not assembled (Pannellum" \
    "could not be fetched from the npm registry)" >&2
  exit 77
fi
mkdir -p "$3"
work=$(mktemp -d "$3/sample-tour-XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir "$TMPDIR"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

player=${4:-}
if [ -z "$player" ]; then
  player=$work/player
  printf '#!/bin/sh\necho "stand-in player"\n' >"$player"
fi
[ -f "$tour_dir/index.html" ] || fail "no sample tour in $tour_dir"

tour=$work/sample-tour
before=$(cd "$tour_dir" && find . -printf '%P %s %T@ %m\n' | sort)
"$pack" build "$tour_dir" -o "$tour" --page index.html --player "$player" \
  >"$work/build.out" || fail "build: $(cat "$work/build.out")"
after=$(cd "$tour_dir" && find . -printf '%P %s %T@ %m\n' | sort)
[ "$before" = "$after" ] || fail "the build changed the tour folder"
[ -x "$tour" ] || fail "the tour is not executable"
cmp -s -n "$(stat -c %s "$player")" "$player" "$tour" ||
  fail "the tour does not start with the player's bytes"

# The same folder gives the same tour, byte for byte.
"$pack" build "$tour_dir" -o "$work/again" --page index.html --player "$player" >/dev/null
cmp -s "$tour" "$work/again" || fail "a second build differs"

# An independent reader agrees that the archive is sound. It warns about
# the player's bytes in front of the archive (exit 1) and reads on.
unzip -tq "$tour" >"$work/unzip.out" 2>&1 || true
grep -q "^No errors detected" "$work/unzip.out" || fail "unzip -t: $(cat "$work/unzip.out")"

"$pack" check "$tour" >"$work/check.out" || fail "check: $(cat "$work/check.out")"
for line in "$tour: plays intact" \
            "  title           Sample Tour  -  Morva" \
            "  tour page       index.html" \
            "  window size     1024 x 768" \
            "  content folder  . (the top of the work folder)" \
            "  launcher page   Sample Tour.html"; do
  grep -qxF "$line" "$work/check.out" || fail "check says no '$line':
$(cat "$work/check.out")"
done

# Every file and folder of the tour is listed, folders with a trailing "/",
# and the two the packer made.
"$pack" list "$tour" >"$work/list.out"
sed -n '3,$p' "$work/list.out" | sed '$d' | sed '$d' | cut -c52- | sort >"$work/listed"
(cd "$tour_dir" && find . -mindepth 1 \( -type d -printf '%P/\n' -o -printf '%P\n' \) &&
  printf '%s\n' "Sample Tour.html" autorun.inf) | sort >"$work/expected"
diff -u "$work/expected" "$work/listed" || fail "list does not name every file"

"$pack" extract "$tour" "$work/out" >/dev/null
printf '[autorun] \r\r\nshellexecute=Sample Tour.html' | cmp -s - "$work/out/autorun.inf" ||
  fail "autorun.inf is not as packages carry it: $(od -c "$work/out/autorun.inf")"
grep -qF "javascript:window.open('index.html','_blank','status=yes,resizable=yes,top=0,left=0,width=1024,height=768')" \
  "$work/out/Sample Tour.html" || fail "the launcher holds no pop-up call for index.html"
rm "$work/out/autorun.inf" "$work/out/Sample Tour.html"
diff -r "$tour_dir" "$work/out" || fail "extract does not give the tour back"
# Files keep their modification times to the second and their write bits.
(cd "$tour_dir" && find . -type f -printf '%P %TY-%Tm-%Td %TH:%TM:%.2TS %m\n' | sort) \
  >"$work/times.expected"
(cd "$work/out" && find . -type f -printf '%P %TY-%Tm-%Td %TH:%TM:%.2TS %m\n' | sort) \
  >"$work/times.out"
awk '{ $NF = ($NF ~ /[2367]/ ? "w" : "r"); print }' "$work/times.expected" >"$work/a"
awk '{ $NF = ($NF ~ /[2367]/ ? "w" : "r"); print }' "$work/times.out" >"$work/b"
diff -u "$work/a" "$work/b" || fail "times or write permission changed"

leftovers=$(ls -A "$TMPDIR")
[ -z "$leftovers" ] || fail "left in the temporary folder: $leftovers"
echo "sample tour: build, check, list and extract agree"

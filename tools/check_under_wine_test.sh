#!/usr/bin/env bash
# morva-pack check gives the same report for the same tour on Linux and, as
# morva-pack.exe, under Wine: the same launch, start page and messages.
#
#   check_under_wine_test.sh MORVA_PACK MORVA_PACK_EXE SAMPLE_TOUR_DIR SCRATCH_DIR
#
# The sample tour is packed with --page; a copy given its files by init and
# then robbed of its page is a tour that would not play, so that the failure
# reports are compared too. Exits 77 (skipped) when the sample tour could not
# be assembled.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 MORVA_PACK MORVA_PACK_EXE SAMPLE_TOUR_DIR SCRATCH_DIR" >&2
  exit 2
fi
pack=$(realpath "$1")
pack_exe=$(realpath "$2")
tour_dir=$(realpath "$3")
here=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -f "$tour_dir/index.html" ]; then
  echo "SKIPPED: no assembled sample tour in $tour_dir" >&2
  exit 77
fi
mkdir -p "$4"
work=$(realpath "$(mktemp -d "$4/check-XXXXXX")")
trap 'rm -rf "$work"' EXIT
# The Linux run's temporary files; Wine's go to its own prefix.
mkdir "$work/tmp"
cd "$work"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

printf '#!/bin/sh\necho "stand-in player"\n' >player
chmod +x player
"$pack" build --player ./player --page index.html -o sample.exe "$tour_dir" \
  >/dev/null

# A tour that would not play: its launcher names a tour page that is missing.
cp -R "$tour_dir/." broken/
"$pack" init --page index.html broken >/dev/null
rm broken/index.html
"$pack" build --force --player ./player -o broken.exe broken >/dev/null 2>&1

for tour in sample.exe broken.exe; do
  linux_rc=0
  wine_rc=0
  TMPDIR=$work/tmp "$pack" check "$tour" >"$tour.linux" 2>&1 || linux_rc=$?
  "$here/cmake/wine-run.sh" "$pack_exe" check "$tour" >"$tour.wine" 2>&1 ||
    wine_rc=$?
  if ! diff -u "$tour.linux" "$tour.wine"; then
    fail "$tour: the reports differ (above: Linux, then Wine)"
  fi
  [ "$linux_rc" = "$wine_rc" ] ||
    fail "$tour: exit status $linux_rc on Linux, $wine_rc under Wine"
  echo "$tour: the same report on Linux and under Wine (exit $linux_rc)"
done
grep -q "plays intact" sample.exe.linux || fail "the sample tour does not play"
grep -q "plays intact" broken.exe.linux && fail "the broken tour plays"
echo "PASS"

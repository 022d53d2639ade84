#!/usr/bin/env bash
# Offline, with nothing cached, the sample tour's assembly and the tests that
# use the tour report themselves skipped (exit 77) with a message that says
# why, instead of failing.
#
#   offline_test.sh BUILD_SH PACK_TEST_SH MORVA_PACK SCRATCH_DIR
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 BUILD_SH PACK_TEST_SH MORVA_PACK SCRATCH_DIR" >&2
  exit 2
fi
build_sh=$1
pack_test_sh=$2
pack=$3
mkdir -p "$4"
work=$(mktemp -d "$4/offline-XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Nothing listens on the discard port of the loopback address; HOME is
# empty, so no user configuration or cache of npm's comes in.
export npm_config_registry=http://127.0.0.1:9/
export HOME=$work/home
mkdir "$HOME"

rc=0
bash "$build_sh" "$work/tour" "$work/cache" 2>"$work/build.err" || rc=$?
[ "$rc" -eq 77 ] || fail "build.sh exited $rc, not 77: $(cat "$work/build.err")"
grep -q "the npm registry cannot be reached" "$work/build.err" ||
  fail "build.sh does not say why: $(cat "$work/build.err")"
[ ! -e "$work/tour/pannellum" ] || fail "a partial tour was assembled"

rc=0
bash "$pack_test_sh" "$pack" "$work/tour" "$work/scratch" 2>"$work/pack.err" || rc=$?
[ "$rc" -eq 77 ] || fail "the round trip exited $rc, not 77: $(cat "$work/pack.err")"
grep -q "^SKIPPED: " "$work/pack.err" || fail "the round trip does not say why"
echo "offline: the sample tour's tests are skipped, with the reason"

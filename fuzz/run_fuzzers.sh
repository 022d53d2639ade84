#!/usr/bin/env bash
# Runs fuzz targets one after the other for a set time each and fails when
# any of them found a crash.
#
#   fuzz/run_fuzzers.sh BUILD SECONDS [TARGET...]
#
# BUILD is a build folder configured with -DMORVA_FUZZ=ON and built. Targets
# default to all of them. Everything lives in BUILD:
#   fuzz-seeds/T      the seeds make_corpus.py writes (rewritten every run)
#   fuzz-corpus/T     what the target found, kept from run to run
#   fuzz-logs/T.log   libFuzzer's output
#   fuzz-artifacts/   crashing, leaking or slow inputs
#
# Each target's process gets a fresh TMPDIR in $FUZZ_TMP (default /dev/shm
# when it is there, else BUILD/fuzz-scratch); it must be empty again when the
# process ends, and is removed then. The unpack target makes and removes
# hundreds of files per second, which a tmpfs does several times faster
# than ext4.
set -euo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,21p' "$0" >&2
  exit 2
fi
build=$(realpath "$1")
seconds=$2
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(archive unpack start_page temp_zip)
fi
here=$(dirname "$(realpath "$0")")
if [ -z "${FUZZ_TMP:-}" ]; then
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then FUZZ_TMP=/dev/shm; else FUZZ_TMP=$build/fuzz-scratch; fi
fi
mkdir -p "$FUZZ_TMP"

python3 "$here/make_corpus.py" "$build/fuzz-seeds" >/dev/null
mkdir -p "$build/fuzz-logs" "$build/fuzz-artifacts"

failed=()
printf '%-11s %6s %12s %9s %14s %8s\n' target seconds executions exec/s "corpus" "rss MB"
for t in "${targets[@]}"; do
  case $t in
    archive|unpack) max_len=8192; dict=zip.dict ;;
    start_page) max_len=4096; dict=start_page.dict ;;
    temp_zip) max_len=70000; dict= ;;
    *) echo "unknown target $t" >&2; exit 2 ;;
  esac
  corpus=$build/fuzz-corpus/$t
  scratch=$FUZZ_TMP/morva-fuzz-$t.$$
  log=$build/fuzz-logs/$t.log
  rm -rf "$scratch"
  mkdir -p "$corpus" "$scratch"
  args=(-max_total_time="$seconds" -max_len="$max_len" -timeout=30
        -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$build/fuzz-artifacts/$t-")
  if [ -n "$dict" ]; then args+=(-dict="$here/$dict"); fi
  status=0
  TMPDIR=$scratch "$build/fuzz/${t}_fuzzer" "${args[@]}" \
    "$corpus" "$build/fuzz-seeds/$t" >"$log" 2>&1 || status=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
  files=$(find "$corpus" -type f | wc -l)
  bytes=$(find "$corpus" -type f -printf "%s\n" | awk "{s+=\$1} END {print s+0}")
  rate=$(( ${runs:-0} / (seconds > 0 ? seconds : 1) ))
  printf '%-11s %6s %12s %9s %14s %8s\n' "$t" "$seconds" "${runs:-?}" "$rate" \
    "$files/${bytes}b" "${rss:-?}"

  # A process that ended normally removed its private folder.
  if [ "$status" -eq 0 ] && [ -n "$(ls -A "$scratch")" ]; then
    echo "$t: left files behind in $scratch:" >&2
    find "$scratch" | head -20 >&2
    status=1
  fi
  if [ "$status" -ne 0 ]; then
    echo "$t: FAILED (exit $status); the end of $log:" >&2
    grep -v -E '^#[0-9]+' "$log" | tail -40 >&2
    failed+=("$t")
  fi
  rm -rf "$scratch"
done

passed=$(( ${#targets[@]} - ${#failed[@]} ))
echo "fuzz: ${passed} passed, ${#failed[@]} failed"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi

#!/usr/bin/env bash
# make demo: packs the two sample tours with morva-pack and plays them: the
# panorama tour (web pages) and the Flash tour (a viewer movie played by the
# player's built-in Flash runtime).
#
#   scripts/demo.sh [BUILD]        (make demo installs and builds first)
#
# With a display (DISPLAY or WAYLAND_DISPLAY set) both tours open at once
# and run until their windows are closed. Without one they run in turn under
# a private Xvfb: once a tour's panorama has rendered, a screenshot goes to
# BUILD/sample-tour.png or BUILD/flash-tour.png, the tour is closed
# (SIGTERM; the player cleans up on it), and the screenshots' paths are
# printed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-build}
jobs=${JOBS:-2}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build"
fi
# The first build fetches Pannellum and the Flash runtime from the npm
# registry.
cmake --build "$build" -j"$jobs" --target morva morva-pack sample_tour flash_tour

tour=$build/sample-tour
flash_tour=$build/flash-tour
# The panorama tour is a web export: morva-pack adds the launcher for its
# page.
"$build/tools/morva-pack" build "$build/examples/sample-tour" -o "$tour" \
  --page index.html
"$build/tools/morva-pack" build "$build/examples/flash-tour" -o "$flash_tour"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$tour" &
  "$flash_tour" &
  wait
  exit 0
fi

# No display: a private X server, and a screenshot of each tour as proof.
case $build in /*) shots=$build ;; *) shots=$root/$build ;; esac
work=$(mktemp -d "${TMPDIR:-/tmp}/morva-demo-XXXXXX")
xvfb_pid=""
tour_pid=""
finish() {
  if [ -n "$tour_pid" ] && kill -0 "$tour_pid" 2>/dev/null; then
    kill -TERM "$tour_pid" 2>/dev/null || true
    wait "$tour_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill -TERM "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap finish EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
  >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "demo: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  mkdir -m 700 "$work/runtime"
  export XDG_RUNTIME_DIR=$work/runtime
fi

# play TOUR SCREENSHOT MIN_COLOURS: plays the tour until its window shows a
# rendered panorama (a blank or black page varies not at all; the
# panorama tour's error page has a few hundred colours and its panorama
# thousands; the Flash tour's bands of solid colour over a sky and a ground
# some 150), saves the screenshot and closes the tour.
play() {
  local tour=$1 screenshot=$2 min_colours=$3
  echo "demo: playing $tour on the virtual display $DISPLAY" >&2
  "$tour" &
  tour_pid=$!

  local window=""
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name ' -  Morva$' 2>/dev/null | head -n1) || true
    [ -n "$window" ] && break
    kill -0 "$tour_pid" 2>/dev/null || { echo "demo: the tour ended early" >&2; exit 1; }
    sleep 0.1
  done
  [ -n "$window" ] || { echo "demo: no tour window appeared" >&2; exit 1; }
  eval "$(xdotool getwindowgeometry --shell "$window")"  # X, Y, WIDTH, HEIGHT

  local rendered=0 deviation colours
  for _ in $(seq 120); do
    import -silent -window root "$work/shot.png"
    read -r deviation colours < <(convert "$work/shot.png" \
      -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -colorspace Gray \
      -format '%[fx:standard_deviation] %k\n' info:)
    if awk -v d="$deviation" -v c="$colours" -v m="$min_colours" \
        'BEGIN { exit !(d > 0.1 && c > m) }'; then
      rendered=1
      break
    fi
    sleep 0.5
  done
  cp "$work/shot.png" "$screenshot"

  kill -TERM "$tour_pid"
  local status=0
  wait "$tour_pid" || status=$?
  tour_pid=""
  if [ $rendered -ne 1 ]; then
    echo "demo: the panorama did not render within a minute; last screenshot: $screenshot" >&2
    exit 1
  fi
  if [ $status -ne 0 ]; then
    echo "demo: the tour ended with status $status" >&2
    exit 1
  fi
}

play "$tour" "$shots/sample-tour.png" 1000
play "$flash_tour" "$shots/flash-tour.png" 100
echo "$shots/sample-tour.png"
echo "$shots/flash-tour.png"

#!/usr/bin/env bash
# Runs a Windows program under Wine, as the cross-build's emulator:
#
#   wine-run.sh [--root DIR] PROGRAM.exe [ARGS...]
#   wine-run.sh [--root DIR] --start
#
# Everything Wine writes stays in DIR (by default build-windows/wine in the
# source tree): the Wine prefix, and a home and XDG folders of its own, so
# that nothing lands in the user's home. Console programs only: no display is
# handed on, Wine's debug channels are off, and the prefix gets no menu
# entries, .NET or Gecko. The exit status is the program's.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)/build-windows/wine"
if [ "${1:-}" = --root ]; then
  root="$2"
  shift 2
fi
if [ $# -eq 0 ]; then
  echo "usage: wine-run.sh [--root DIR] PROGRAM.exe [ARGS...] | --start" >&2
  exit 2
fi
wine="${MORVA_WINE:-/usr/lib/wine/wine64}"
if [ ! -x "$wine" ]; then
  echo "wine-run.sh: $wine not found (bash scripts/install-deps.sh windows)" >&2
  exit 2
fi

mkdir -p "$root/home" "$root/cache" "$root/config" "$root/data"
export WINEPREFIX="$root/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export HOME="$root/home"
export XDG_CACHE_HOME="$root/cache"
export XDG_CONFIG_HOME="$root/config"
export XDG_DATA_HOME="$root/data"
unset DISPLAY WAYLAND_DISPLAY
# --start: readies the prefix's server and Wine's own processes for a run of
# many programs, then returns. Wine's server ends 3 seconds after its last
# program, and a test that connects just then fails ("recvmsg: Connection
# reset by peer"); this one waits 30 seconds. Its processes hold none of our
# output open, or ctest would wait for them.
if [ "$1" = --start ]; then
  server="$(dirname "$wine")/wineserver64"
  if [ -x "$server" ]; then
    "$server" -p30 </dev/null >/dev/null 2>&1 || true
  fi
  exec "$wine" wineboot </dev/null >/dev/null 2>&1
fi
exec "$wine" "$@"

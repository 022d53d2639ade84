#!/usr/bin/env bash
# Fetches the Flash runtime the player carries (Ruffle, from the npm
# registry), checks it against the pinned digest and lays out its files with
# a GResource description for glib-compile-resources.
#
#   fetch_ruffle.sh OUT_DIR CACHE_DIR
#
# OUT_DIR receives files/ (the runtime's files), their description
# runtime.gresource.xml and the compiled bundle runtime.gresource
# (glib-compile-resources, or $GLIB_COMPILE_RESOURCES).
# CACHE_DIR keeps the downloaded package between builds; only the first build
# needs the registry. Without the registry and without a cached package the
# description lists no files, the player is built without the runtime, and
# this says so on stderr (the tests that need the runtime carry the label
# npm). Outputs are rewritten only when they change, so a rebuild with
# nothing new recompiles nothing.
set -euo pipefail

RUFFLE_VERSION=0.6.0
RUFFLE_SHA256=f434cc95704c2cd594c8e0f06ae2dffa808b434da6723632c46b0e6a905c2a40
# Both wasm modules and their loaders ship: the runtime takes the one that
# uses SIMD and the other extensions where the engine has them.
FILES=(
  ruffle.js
  core.ruffle.c80159b526e567babaf5.js
  core.ruffle.f000070ea72f8ae4fe3a.js
  826bb0938097485a2c9d.wasm
  72a20ef1c0b8ceb37720.wasm
  LICENSE_MIT
  LICENSE_APACHE
)

if [ $# -ne 2 ]; then
  echo "usage: $0 OUT_DIR CACHE_DIR" >&2
  exit 2
fi
mkdir -p "$1" "$2"
out=$(cd "$1" && pwd)
cache=$(cd "$2" && pwd)
unpacked=$cache/ruffle-rs-ruffle-$RUFFLE_VERSION

have_runtime=1
status=0
bash "$(dirname "$0")/../../scripts/npm-fetch.sh" @ruffle-rs/ruffle \
  "$RUFFLE_VERSION" "$RUFFLE_SHA256" "$cache" || status=$?
case $status in
  0) ;;
  3) have_runtime=0 ;;
  *) exit 1 ;;
esac

# Writes stdin to $1 unless $1 already holds exactly that.
update() {
  local tmp
  tmp=$(mktemp "$1.XXXXXX")
  cat >"$tmp"
  if cmp -s "$tmp" "$1"; then rm -f "$tmp"; else mv "$tmp" "$1"; fi
}

mkdir -p "$out/files"
{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo '<gresources>'
  echo '  <gresource prefix="/org/morva/flash">'
  if [ $have_runtime -eq 1 ]; then
    for f in "${FILES[@]}"; do
      if ! cmp -s "$unpacked/package/$f" "$out/files/$f"; then
        cp "$unpacked/package/$f" "$out/files/$f"
      fi
      echo "    <file compressed=\"true\">$f</file>"
    done
    echo "    <file>version</file>"
  fi
  echo '  </gresource>'
  echo '</gresources>'
} | update "$out/runtime.gresource.xml"
echo "$RUFFLE_VERSION" | update "$out/files/version"

# Compressing 28 MB takes a few seconds: only when something changed.
bundle=$out/runtime.gresource
if [ ! -f "$bundle" ] || [ -n "$(find "$out/runtime.gresource.xml" "$out/files" \
                                   -newer "$bundle" -print -quit)" ]; then
  "${GLIB_COMPILE_RESOURCES:-glib-compile-resources}" --sourcedir="$out/files" \
    --target="$bundle.part" "$out/runtime.gresource.xml"
  mv "$bundle.part" "$bundle"
fi

if [ $have_runtime -eq 0 ]; then
  echo "flash runtime: the npm registry cannot be reached and nothing is" \
       "cached in $cache: the player is built WITHOUT the Flash runtime" >&2
fi

#!/usr/bin/env bash
# Assembles the sample tour folder, a web export as panorama tools write
# them: the committed page, Pannellum from the npm registry and the
# generated panoramas.
#
#   build.sh OUT_DIR [CACHE_DIR]
#
# OUT_DIR receives index.html, pannellum/ and scene/; morva-pack build
# OUT_DIR -o TOUR --page index.html makes the tour. CACHE_DIR keeps the downloaded
# Pannellum between runs (default: OUT_DIR.cache). Only the first run needs
# the network; later runs copy a few files and skip the panoramas when they
# are newer than the script that draws them.
#
# Exits with 77 (the tests' "skipped") when Pannellum is in neither cache and
# the npm registry cannot be reached.
set -euo pipefail

PANNELLUM_VERSION=2.5.7
PANNELLUM_SHA256=01a05cdc7d201fda3c8946f65426badd4676df45218d6da5d869c9fdb220150e

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUT_DIR [CACHE_DIR]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
python=${PYTHON:-python3}
mkdir -p "$1"
out=$(cd "$1" && pwd)
# Never inside OUT_DIR: whatever lies there ends up in the package.
cache=${2:-$out.cache}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
# A folder assembled before the tour was a web export kept it all in
# _flash/, beside a viewer movie that would still mark it as the content
# folder.
rm -rf "$out/_flash"

# Pannellum: fetched once, checked against the pinned digest, unpacked once.
unpacked=$cache/pannellum-$PANNELLUM_VERSION
status=0
bash "$here/../../scripts/npm-fetch.sh" pannellum "$PANNELLUM_VERSION" \
  "$PANNELLUM_SHA256" "$cache" || status=$?
if [ $status -eq 3 ]; then
  echo "sample-tour: pannellum@$PANNELLUM_VERSION is not in $cache and" \
    "the npm registry cannot be reached; the sample tour is not assembled" >&2
  exit 77
elif [ $status -ne 0 ]; then
  echo "sample-tour: cannot fetch pannellum@$PANNELLUM_VERSION" >&2
  exit 1
fi

# The committed page. cp -p keeps its time, so a package built twice from
# the same checkout carries the same entries.
cp -Rp "$here/tour/." "$out/"
mkdir -p "$out/pannellum"
for f in build/pannellum.js build/pannellum.css COPYING; do
  cp -p "$unpacked/package/$f" "$out/pannellum/"
done

# The panoramas take a few seconds; redraw them only when the drawing script
# changed or one is missing.
scenes=$out/scene
redraw=0
for name in courtyard harbour; do
  if [ ! -f "$scenes/$name.png" ] || [ "$here/make_panoramas.py" -nt "$scenes/$name.png" ]; then
    redraw=1
  fi
done
if [ $redraw -eq 1 ]; then
  echo "sample-tour: drawing panoramas" >&2
  "$python" "$here/make_panoramas.py" "$scenes"
fi

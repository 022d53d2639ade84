#!/usr/bin/env bash
# Assembles the Flash sample tour folder: the committed pages, the viewer
# movie compiled from src/ with Haxe, and the generated panoramas.
#
#   build.sh OUT_DIR
#
# OUT_DIR receives _flash/ and everything in it; pack the folder with
# `morva-pack build OUT_DIR -o TOUR`. Needs no network: haxe (Debian's
# package, with the Flash externs) compiles offline, ImageMagick's convert
# writes the JPEG pictures. The movie and the pictures are remade only when
# their sources are newer.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 OUT_DIR" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
python=${PYTHON:-python3}
mkdir -p "$1/_flash"
out=$(cd "$1" && pwd)
content=$out/_flash

cp -Rp "$here/tour/." "$out/"

movie=$content/qzviewer.swf
if [ ! -f "$movie" ] || [ -n "$(find "$here/src" -newer "$movie" -print -quit)" ]; then
  echo "flash-tour: compiling the viewer movie" >&2
  (cd "$here" && haxe -cp src -main Main -swf "$movie.part" -swf-version 10 \
      -swf-header 800:600:30:336699)
  mv "$movie.part" "$movie"
fi

scenes=$content/scene
for name in courtyard harbour; do
  if [ ! -f "$scenes/$name.jpg" ] || [ "$here/make_panoramas.py" -nt "$scenes/$name.jpg" ]; then
    echo "flash-tour: drawing panoramas" >&2
    "$python" "$here/make_panoramas.py" "$scenes"
    break
  fi
done

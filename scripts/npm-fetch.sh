#!/usr/bin/env bash
# Fetches one npm package once into a cache folder, checks it against its
# pinned SHA-256 and unpacks it; later runs only find it there.
#
#   npm-fetch.sh NAME VERSION SHA256 CACHE_DIR
#
# On success CACHE_DIR/NAME-VERSION/package/ holds the package's files (a
# scoped name's "@" and "/" become "" and "-"). Exit 1: the download failed
# or does not have the pinned digest (it is removed); exit 3: the package is
# in neither cache and the registry cannot be reached. npm's own cache goes into
# CACHE_DIR too, so nothing is written in $HOME.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 NAME VERSION SHA256 CACHE_DIR" >&2
  exit 2
fi
name=$1 version=$2 sha256=$3
mkdir -p "$4"
cache=$(cd "$4" && pwd)
flat=${name#@}
flat=${flat//\//-}
tarball=$cache/$flat-$version.tgz
unpacked=$cache/$flat-$version

[ -d "$unpacked/package" ] && exit 0
fetch() {
  (cd "$cache" && npm pack "$name@$version" --silent --cache "$cache/npm" \
      --pack-destination "$cache" "$@" >/dev/null)
}
# npm's cache first, without the network; then the registry, but only once a
# quick ping says it is there: npm retries an unreachable one for more than
# a minute.
if [ ! -f "$tarball" ] && ! fetch --offline 2>/dev/null; then
  if ! npm ping --silent --cache "$cache/npm" --fetch-retries=0 \
      >/dev/null 2>&1; then
    rm -f "$tarball"
    exit 3
  fi
  echo "npm-fetch: fetching $name@$version" >&2
  if ! fetch; then
    rm -f "$tarball"
    exit 1
  fi
fi
if ! echo "$sha256  $tarball" | sha256sum --check --status; then
  echo "npm-fetch: $tarball does not have the expected SHA-256; removed" >&2
  rm -f "$tarball"
  exit 1
fi
rm -rf "$unpacked.part"
mkdir -p "$unpacked.part"
tar -xzf "$tarball" -C "$unpacked.part"
rm -rf "$unpacked"
mv "$unpacked.part" "$unpacked"

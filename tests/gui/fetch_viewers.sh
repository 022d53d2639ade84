#!/usr/bin/env bash
# Fetches the panorama viewers whose quick-starts the GUI tests pack as web
# exports, from the npm registry, once, each checked against its pinned
# SHA-256 (Pannellum comes with the sample tour).
#
#   fetch_viewers.sh CACHE_DIR
#
# Exits with 77 (the tests' "skipped") when one is in neither cache and the
# npm registry cannot be reached.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 CACHE_DIR" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
# name version sha256
packages=(
  "marzipano 0.10.2 04cd5704bb51726eefb1e826554ad73d6b4e591e0fba5a0c3d4ce02a820f3c7d"
  "@photo-sphere-viewer/core 5.15.1 592bd80d1e5c3c15f657f2296e700d9c7b40bca8fd96c077e38e4f31c5b3ad4d"
  "three 0.185.1 a2143f5bf978bd3470a51024b2b6bdd581913ba8f36ff1538d433f3a95adf2df"
)
for package in "${packages[@]}"; do
  read -r name version sha256 <<<"$package"
  status=0
  bash "$here/../../scripts/npm-fetch.sh" "$name" "$version" "$sha256" "$1" ||
    status=$?
  if [ $status -eq 3 ]; then
    echo "viewers: $name@$version is not in $1 and the npm registry cannot" \
      "be reached; the viewers' tests are skipped" >&2
    exit 77
  elif [ $status -ne 0 ]; then
    echo "viewers: cannot fetch $name@$version" >&2
    exit 1
  fi
done

#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Only packages that dpkg does not report installed are fetched, and the
# package lists are refreshed only when something has to be installed.
#
#   install-deps.sh           what the Linux build, its tests and the demo need
#   install-deps.sh windows   what the Windows cross-build needs on top: the
#                             mingw-w64 compiler, Wine to run its tests, and
#                             what scripts/build-windows-deps.sh needs to fetch
#                             and build the libraries from Debian's sources
set -euo pipefail

target="${1:-linux}"

linux_packages=(
  build-essential cmake pkg-config
  zlib1g-dev libminizip-dev libdeflate-dev libre2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev
  xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core weston
  clang libclang-rt-14-dev clang-format
  zip unzip libarchive-tools time
  librsvg2-bin desktop-file-utils appstream man-db dpkg-dev lintian
  python3
  haxe
)

# The libraries' -dev packages are here too: the sources fetched are the
# versions they were built from.
windows_packages=(
  g++-mingw-w64-x86-64-posix wine64
  cmake make python3 python3-six dpkg-dev unicode-data
  zlib1g-dev libre2-dev googletest libcli11-dev
)

case "$target" in
  linux) packages=("${linux_packages[@]}") ;;
  windows) packages=("${windows_packages[@]}") ;;
  *)
    echo "install-deps: unknown target '$target' (linux or windows)" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$p")
  fi
done

# npm may come from a Node.js build that is not Debian's; only ask apt for it
# when there is no npm at all.
if [ "$target" = linux ] && ! command -v npm >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

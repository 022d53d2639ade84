#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Only packages that dpkg does not report installed are fetched, and the
# package lists are refreshed only when something has to be installed.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  zlib1g-dev libminizip-dev libre2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev
  xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core weston
  clang libclang-rt-14-dev clang-format
  zip unzip libarchive-tools time
  python3
  haxe
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$p")
  fi
done

# npm may come from a Node.js build that is not Debian's; only ask apt for it
# when there is no npm at all.
if ! command -v npm >/dev/null 2>&1; then
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

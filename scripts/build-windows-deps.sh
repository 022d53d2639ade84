#!/usr/bin/env bash
# Builds the libraries the Windows cross-build links, as static libraries for
# x86_64-w64-mingw32, from Debian's sources of the very versions this machine
# has installed for the Linux build:
#
#   zlib and minizip   zlib's source package (minizip from contrib/minizip,
#                      with iowin32 for wide paths)
#   RE2                re2's source package; its generated Unicode tables are
#                      made again from Debian's unicode-data
#   GoogleTest/gMock   /usr/src/googletest (the googletest package)
#   CLI11              the headers of libcli11-dev (header-only)
#
# Everything goes below the build folder (MORVA_WINDOWS_BUILD, by default
# build-windows/ in the source tree):
#   deps/        the prefix: include/, lib/ (with pkgconfig/ and cmake/), share/
#   deps-src/    the unpacked source packages
#   deps-build/  the libraries' build trees
# A library is built only when its stamp in deps/.stamps/ is missing or names
# another version or recipe; sources are fetched only when missing.
#
# Needs the packages of `scripts/install-deps.sh windows`. Fetching a source
# package needs a deb-src entry for the distribution's archive: when apt has
# none, this adds one of its own (/etc/apt/sources.list.d/morva-deb-src.sources,
# the same archives, suites and keyring as the binary entries).
set -euo pipefail

top="$(cd "$(dirname "$0")/.." && pwd)"
out="${MORVA_WINDOWS_BUILD:-$top/build-windows}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
prefix="$out/deps"
srcdir="$out/deps-src"
workdir="$out/deps-build"
jobs="${JOBS:-2}"
toolchain="$top/cmake/mingw-w64-x86_64.cmake"
triple=x86_64-w64-mingw32
# Bump when a library's recipe below changes: its stamp then no longer
# matches and it is built again.
recipe=2

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

say() { echo "build-windows-deps: $*" >&2; }
die() {
  say "$*"
  exit 1
}

for tool in "$triple-gcc-posix" "$triple-g++-posix" cmake make perl \
  /usr/bin/python3 dpkg-source; do
  command -v "$tool" >/dev/null 2>&1 ||
    die "$tool is missing: run bash scripts/install-deps.sh windows"
done

# The source package and version that an installed binary package was built
# from, e.g. "zlib 1:1.2.13.dfsg-1" for zlib1g-dev.
source_of() {
  dpkg-query -W -f='${source:Package} ${source:Version}' "$1" 2>/dev/null ||
    die "$1 is not installed: run bash scripts/install-deps.sh windows"
}

# A deb-src twin of every enabled deb entry of the distribution's own list
# (deb822 or one-line format), on stdout.
deb_src_entries() {
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    awk 'BEGIN { RS = ""; ORS = "" }
      {
        n = split($0, line, "\n"); types = ""; enabled = 1; out = ""
        for (i = 1; i <= n; i++) {
          if (line[i] ~ /^#/) continue
          if (line[i] ~ /^Types:/) {
            types = line[i]; sub(/^Types:[ \t]*/, "", types)
            line[i] = "Types: deb-src"
          }
          if (line[i] ~ /^Enabled:[ \t]*[Nn]o/) enabled = 0
          out = out line[i] "\n"
        }
        if (enabled && types ~ /(^|[ \t])deb([ \t]|$)/) print out "\n"
      }' /etc/apt/sources.list.d/debian.sources
  elif [ -f /etc/apt/sources.list ]; then
    sed -n 's/^[ \t]*deb[ \t]/deb-src /p' /etc/apt/sources.list
  fi
}

# "URI SUITE" for each archive and suite that the entries on stdin name.
entry_suites() {
  awk '
    /^URIs:/ { n = split($0, uris, /[ \t]+/) - 1 }
    /^Suites:/ {
      m = split($0, suites, /[ \t]+/)
      for (i = 2; i <= n + 1; i++) for (j = 2; j <= m; j++) print uris[i], suites[j]
    }
    /^deb-src / {
      k = 2; if ($2 ~ /^\[/) { while ($k !~ /\]$/) k++; k++ }
      print $k, $(k + 1)
    }' | sed 's|/* | |' | sort -u
}

# Adds our deb-src entries unless apt has a source index for every archive
# and suite of the distribution's own list already.
ensure_deb_src() {
  local entries wanted have file
  entries="$(deb_src_entries)"
  [ -n "$entries" ] || die "no Debian archive in /etc/apt to add a deb-src entry for"
  wanted="$(printf '%s\n' "$entries" | entry_suites)"
  have="$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Sources' |
    sed 's|/* | |' | sort -u)"
  if [ -z "$(comm -23 <(printf '%s\n' "$wanted") <(printf '%s\n' "$have"))" ]; then
    return 0
  fi
  file=/etc/apt/sources.list.d/morva-deb-src.sources
  [ -f /etc/apt/sources.list.d/debian.sources ] || file=/etc/apt/sources.list.d/morva-deb-src.list
  [ -e "$file" ] && return 0
  say "adding $file"
  printf '%s\n' "$entries" | $sudo tee "$file" >/dev/null
}

# Unpacks source package NAME at VERSION into $srcdir/NAME-VERSION (with
# Debian's patches applied) unless it is there already; prints that folder.
fetch_source() {
  local name="$1" version="$2"
  local dest="$srcdir/$name-${version//:/_}"
  if [ ! -f "$dest/.fetched" ]; then
    rm -rf "$dest" "$dest.fetch"
    mkdir -p "$dest.fetch"
    if ! apt-get source --print-uris -qq "$name=$version" >/dev/null 2>&1; then
      ensure_deb_src
      say "refreshing the package lists for the source index"
      $sudo apt-get update -q >&2
    fi
    say "fetching the source of $name $version"
    (cd "$dest.fetch" && apt-get source -q "$name=$version" >&2) ||
      die "apt-get source $name=$version failed (is that version still in the archive?)"
    local unpacked
    unpacked="$(find "$dest.fetch" -mindepth 1 -maxdepth 1 -type d)"
    [ "$(printf '%s\n' "$unpacked" | wc -l)" -eq 1 ] && [ -n "$unpacked" ] ||
      die "apt-get source $name=$version did not unpack one folder"
    mv "$unpacked" "$dest"
    rm -rf "$dest.fetch"
    touch "$dest/.fetched"
  fi
  printf '%s\n' "$dest"
}

stamp_ok() { [ "$(cat "$prefix/.stamps/$1" 2>/dev/null)" = "$2" ]; }
stamp_set() {
  mkdir -p "$prefix/.stamps"
  printf '%s\n' "$2" >"$prefix/.stamps/$1"
}

cmake_build() {
  local name="$1" source="$2"
  shift 2
  rm -rf "$workdir/$name"
  cmake -S "$source" -B "$workdir/$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DMORVA_WINDOWS_DEPS="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >&2
  cmake --build "$workdir/$name" -j"$jobs" >&2
  cmake --install "$workdir/$name" >&2
}

started=$SECONDS
step() {
  say "$1 done in $((SECONDS - step_started)) s"
}

read -r zlib_pkg zlib_version <<<"$(source_of zlib1g-dev)"
read -r re2_pkg re2_version <<<"$(source_of libre2-dev)"
read -r deflate_pkg deflate_version <<<"$(source_of libdeflate-dev)"
gtest_version="$(dpkg-query -W -f='${Version}' googletest 2>/dev/null)" ||
  die "googletest is not installed: run bash scripts/install-deps.sh windows"
cli11_version="$(dpkg-query -W -f='${Version}' libcli11-dev 2>/dev/null)" ||
  die "libcli11-dev is not installed: run bash scripts/install-deps.sh windows"
case "$re2_version" in
  20220601*) ;;
  *) die "RE2 $re2_version installed; this recipe builds 20220601 (no Abseil)" ;;
esac

# zlib: its own configure, static only, built outside the source tree.
step_started=$SECONDS
if ! stamp_ok zlib "$zlib_version $recipe"; then
  zlib_src="$(fetch_source "$zlib_pkg" "$zlib_version")"
  rm -rf "$workdir/zlib"
  mkdir -p "$workdir/zlib"
  (
    cd "$workdir/zlib"
    CHOST="$triple" CC="$triple-gcc-posix" AR="$triple-ar" RANLIB="$triple-ranlib" \
      "$zlib_src/configure" --static --prefix="$prefix" >&2
    make -j"$jobs" libz.a >&2
    make install >&2
  )
  stamp_set zlib "$zlib_version $recipe"
  rm -f "$prefix/.stamps/minizip"
  step zlib
fi

step_started=$SECONDS
if ! stamp_ok minizip "$zlib_version $recipe"; then
  zlib_src="$(fetch_source "$zlib_pkg" "$zlib_version")"
  upstream="${zlib_version#*:}"
  upstream="${upstream%%[.+]dfsg*}"
  cmake_build minizip "$top/cmake/minizip" \
    -DMINIZIP_SOURCE_DIR="$zlib_src/contrib/minizip" -DMINIZIP_VERSION="$upstream"
  stamp_set minizip "$zlib_version $recipe"
  step minizip
fi

# RE2: the source package leaves out the generated tables; they are made
# again as its Makefile does with REBUILD_TABLES=1, from /usr/share/unicode
# (Debian's patch of re2/unicode.py), with Debian's own Python.
step_started=$SECONDS
if ! stamp_ok re2 "$re2_version $recipe"; then
  re2_src="$(fetch_source "$re2_pkg" "$re2_version")"
  [ -f /usr/share/unicode/UnicodeData.txt ] ||
    die "/usr/share/unicode is missing: run bash scripts/install-deps.sh windows"
  for table in perl_groups unicode_casefold unicode_groups; do
    if [ ! -s "$re2_src/re2/$table.cc" ]; then
      case "$table" in
        perl_groups) perl "$re2_src/re2/make_perl_groups.pl" >"$re2_src/re2/$table.cc.new" ;;
        *) /usr/bin/python3 "$re2_src/re2/make_$table.py" >"$re2_src/re2/$table.cc.new" ;;
      esac
      mv "$re2_src/re2/$table.cc.new" "$re2_src/re2/$table.cc"
    fi
  done
  cmake_build re2 "$re2_src" -DRE2_BUILD_TESTING=OFF
  # RE2's CMake build writes no .pc file; the project finds RE2 with
  # pkg-config, as Debian's libre2-dev provides it.
  cat >"$prefix/lib/pkgconfig/re2.pc" <<EOF
prefix=$prefix
exec_prefix=\${prefix}
libdir=\${exec_prefix}/lib
includedir=\${prefix}/include

Name: re2
Description: RE2 is a fast, safe, thread-friendly regular expression engine.
Version: ${re2_version%%+*}
Cflags: -I\${includedir}
Libs: -L\${libdir} -lre2
EOF
  stamp_set re2 "$re2_version $recipe"
  step re2
fi

# libdeflate: the static library only, with its own Makefile (this version
# has no CMake build), in a copy of the sources since it builds in place. Its
# Makefile names a MinGW static library "libdeflatestatic.lib"; it is
# installed as libdeflate.a with a .pc file of ours, as Debian's
# libdeflate-dev provides it.
step_started=$SECONDS
if ! stamp_ok libdeflate "$deflate_version $recipe"; then
  deflate_src="$(fetch_source "$deflate_pkg" "$deflate_version")"
  rm -rf "$workdir/libdeflate"
  mkdir -p "$workdir"
  cp -R "$deflate_src" "$workdir/libdeflate"
  make -C "$workdir/libdeflate" -j"$jobs" CC="$triple-gcc-posix" \
    AR="$triple-gcc-ar-posix" libdeflatestatic.lib >&2
  mkdir -p "$prefix/lib/pkgconfig" "$prefix/include"
  cp "$workdir/libdeflate/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
  cp "$workdir/libdeflate/libdeflate.h" "$prefix/include/libdeflate.h"
  cat >"$prefix/lib/pkgconfig/libdeflate.pc" <<EOF
prefix=$prefix
exec_prefix=\${prefix}
libdir=\${exec_prefix}/lib
includedir=\${prefix}/include

Name: libdeflate
Description: Fast implementation of DEFLATE, zlib, and gzip
Version: ${deflate_version%%-*}
Cflags: -I\${includedir}
Libs: -L\${libdir} -ldeflate
EOF
  stamp_set libdeflate "$deflate_version $recipe"
  step libdeflate
fi

step_started=$SECONDS
if ! stamp_ok googletest "$gtest_version $recipe"; then
  cmake_build googletest /usr/src/googletest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  stamp_set googletest "$gtest_version $recipe"
  step googletest
fi

# CLI11 is headers only: the package's headers and its relocatable CMake
# package file.
step_started=$SECONDS
if ! stamp_ok cli11 "$cli11_version $recipe"; then
  rm -rf "$prefix/include/CLI" "$prefix/share/cmake/CLI11"
  mkdir -p "$prefix/include" "$prefix/share/cmake"
  cp -R /usr/include/CLI "$prefix/include/CLI"
  cp -R /usr/share/cmake/CLI11 "$prefix/share/cmake/CLI11"
  stamp_set cli11 "$cli11_version $recipe"
  step cli11
fi

say "prefix $prefix ready ($((SECONDS - started)) s)"

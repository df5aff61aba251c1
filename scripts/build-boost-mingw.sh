#!/usr/bin/env bash
# Builds the Boost the Windows cross build links, from Debian's own source
# package of the Boost the host build uses (boost1.81), with Boost's CMake
# build and the project's MinGW-w64 toolchain: static program_options,
# serialization, filesystem and thread, and the whole header tree of the same
# version. It goes into a cache outside the clone, so a second run (and a
# second clone) finds it done at once.
#
#   bash scripts/build-boost-mingw.sh            # build unless cached; prints the prefix
#   bash scripts/build-boost-mingw.sh --prefix   # only print the prefix
#
# Its progress goes to standard error; standard output is the prefix alone.
#
# Then: cmake --preset windows-mingw -DBoost_ROOT=<prefix>
# (find_package(Boost 1.81.0 EXACT CONFIG) finds it there.)
# BOOST_MINGW_JOBS sets the build's parallelism (default: every processor).
set -euo pipefail

version=1.81.0
source_package=boost1.81
libraries="program_options;serialization;filesystem;thread"

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/sablewick
prefix=$cache/boost-mingw-$version

if [ "${1:-}" = "--prefix" ]; then
  echo "$prefix"
  exit 0
fi

toolchain=$root/cmake/toolchain-mingw-w64-x86_64-posix.cmake
compiler=x86_64-w64-mingw32-g++-posix
# The stamp names what the install was made from: a different compiler,
# library list or toolchain file (target Windows version) makes it stale.
recipe="$source_package libraries=$libraries compiler=$("$compiler" -dumpversion)"
recipe+=" toolchain=$(sha256sum <"$toolchain" | cut -c1-16) atomic=no-synchronization-lib"
stamp=$prefix/.sablewick-stamp

# Boost's CMake build of this version installs no "Boost" package for
# find_package(Boost CONFIG); the project's own is written into the install,
# anew on every run, so that a change to it needs no rebuild of the libraries.
install_package_config() {
  cmake -DPREFIX="$1" -DBOOST_VERSION="$version" -P "$root/cmake/boost-mingw/install-config.cmake"
}

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; then
  install_package_config "$prefix"
  echo "build-boost-mingw: cached in $prefix" >&2
  echo "$prefix"
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "build-boost-mingw: root is needed to add a deb-src entry" >&2; exit 1; }
  as_root=(sudo)
fi

mkdir -p "$cache"
# One build at a time per cache; a second caller waits, then finds the stamp.
exec 9>"$cache/.boost-mingw.lock"
flock 9
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; then
  install_package_config "$prefix"
  echo "build-boost-mingw: cached in $prefix" >&2
  echo "$prefix"
  exit 0
fi

start=$SECONDS
work=$(mktemp -d "${TMPDIR:-/tmp}/boost-mingw.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The source package comes from the machine's own Debian archive: a deb-src
# twin of every "deb" entry of its sources, with the same URIs, suites,
# components and key.
debian_sources=/etc/apt/sources.list.d/debian.sources
src_list=/etc/apt/sources.list.d/sablewick-deb-src.sources
if ! apt-get source --print-uris "$source_package" >/dev/null 2>&1; then
  if [ ! -f "$debian_sources" ]; then
    echo "build-boost-mingw: no $debian_sources to derive a deb-src entry from" >&2
    exit 1
  fi
  awk '
    BEGIN { RS = ""; ORS = "\n\n" }
    {
      n = split($0, line, "\n"); out = ""; binary = 0
      for (i = 1; i <= n; i++) {
        if (line[i] ~ /^#/) continue
        if (line[i] ~ /^Types:/) {
          if (line[i] ~ /[ \t]deb([ \t]|$)/) binary = 1
          line[i] = "Types: deb-src"
        }
        out = out line[i] "\n"
      }
      if (binary) printf "%s\n", out
    }' "$debian_sources" >"$work/deb-src.sources"
  [ -s "$work/deb-src.sources" ] || { echo "build-boost-mingw: no deb entry in $debian_sources" >&2; exit 1; }
  "${as_root[@]}" install -m 0644 "$work/deb-src.sources" "$src_list"
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 update >&2
fi

echo "build-boost-mingw: fetching Debian's $source_package source" >&2
mkdir "$work/src"
# apt's download user must be able to write the folder.
if id _apt >/dev/null 2>&1 && [ "$(id -u)" -eq 0 ]; then chown _apt "$work/src"; fi
(cd "$work/src" && apt-get source --download-only "$source_package") >&2
tar -C "$work/src" -xf "$work/src/${source_package}_$version.orig.tar.xz"
tar -C "$work/src" -xf "$work/src/${source_package}_$version"-*.debian.tar.xz
tree=$work/src/boost
# Debian's patches, so that headers and libraries are those of Debian's
# binary packages of the same version.
while read -r patch_name; do
  case $patch_name in ''|'#'*) continue ;; esac
  patch -d "$tree" -p1 -s <"$work/src/debian/patches/$patch_name"
done <"$work/src/debian/patches/series"

echo "build-boost-mingw: building $libraries" >&2
# Boost.Atomic would link libsynchronization whenever the MinGW runtime has
# it, whatever Windows the build is for; named before kernel32 on the link
# line, it makes the program take its critical sections and events from
# api-ms-win-core-synch-l1-2-0.dll, which Windows 7 lacks. Without it Boost
# looks WaitOnAddress up at run time.
rm -rf "$prefix" "$prefix.partial"
cmake -S "$tree" -B "$work/build" -G Ninja \
  --toolchain "$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix.partial" \
  -DBOOST_INCLUDE_LIBRARIES="$libraries" \
  -DBUILD_SHARED_LIBS=OFF \
  -DBOOST_ATOMIC_HAS_SYNCHRONIZATION_LIB=OFF \
  -DBUILD_TESTING=OFF >"$work/build.log" 2>&1 &&
  cmake --build "$work/build" -j "${BOOST_MINGW_JOBS:-$(nproc)}" >>"$work/build.log" 2>&1 &&
  cmake --install "$work/build" >>"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; echo "build-boost-mingw: the build failed" >&2; exit 1; }

# Boost's install carries only the headers of the libraries it built and of
# those they use; the program also uses header-only libraries (Format, Uuid,
# Signals2, Spirit and more). The source tree holds each library's headers under its
# libs/<name>/include (and libs/numeric/<name>/include): merged, they are the
# whole tree, the same one as Debian's /usr/include/boost.
major_minor=${version%.*}
include_dir=$prefix.partial/include/boost-${major_minor/./_}
for lib_include in "$tree"/libs/*/include "$tree"/libs/numeric/*/include; do
  if [ -d "$lib_include/boost" ]; then cp -R "$lib_include/boost" "$include_dir/"; fi
done
install_package_config "$prefix.partial"

echo "$recipe" >"$prefix.partial/.sablewick-stamp"
mv "$prefix.partial" "$prefix"
echo "build-boost-mingw: built in $((SECONDS - start)) s, installed in $prefix" >&2
echo "$prefix"

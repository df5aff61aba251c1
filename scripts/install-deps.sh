#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12, and only
# what is missing, then builds the Boost for MinGW-w64 that the Windows
# program links (scripts/build-boost-mingw.sh; cached outside the clone, so
# it is built once per machine). Run as root (CI does); otherwise sudo is used.
set -euo pipefail

packages=(
  cmake ninja-build g++
  # Boost 1.81, not Debian 12's default 1.74
  libboost1.81-dev
  libboost-program-options1.81-dev libboost-serialization1.81-dev
  libboost-filesystem1.81-dev libboost-thread1.81-dev
  libutfcpp-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  # the agent package (wixl) and its inspection (msiinfo)
  msitools wixl
  # the Windows cross build, and windres for the resource script on both builds
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  # Boost for MinGW from Debian's source package: Debian's patches, .xz
  patch xz-utils
  # the Windows program's end-to-end tests (tests/wine), and their process checks
  wine wine64 procps
  # libFuzzer targets
  clang libclang-rt-14-dev
  # the linter's CI stage
  clang-tidy
  # the demo's summary of the call trace
  jq
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: every package is installed"
else
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root to install: ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
  fi

  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
fi

bash "$(dirname "${BASH_SOURCE[0]}")/build-boost-mingw.sh" >/dev/null

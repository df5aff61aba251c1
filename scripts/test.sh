#!/usr/bin/env bash
# Builds and runs every test: the host build, clang-tidy over the product's
# sources, the same build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows program linked with MinGW-w64
# (against the Boost for MinGW that install-deps.sh builds) and checked as a
# PE file, the end-to-end scenarios under Wine, then a short run of every
# fuzz target. Exits non-zero if any stage fails.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh || exit 1

jobs=$(nproc)
failed=()

stage() {
  local name=$1
  shift
  echo
  echo "======== $name"
  local start=$SECONDS
  if "$@"; then
    echo "======== $name: passed ($((SECONDS - start)) s)"
  else
    echo "======== $name: FAILED ($((SECONDS - start)) s)"
    failed+=("$name")
  fi
}

# The fault sweep (tests/sweep) runs once, beside the other tests rather
# than inside ctest, whose output would hide its figures (runs and
# violations per road) unless it failed; they are worth seeing on every run.
# Under ASan, ctest runs it as one test per road, side by side.
sweep_suite='FaultSweep'

host() {
  cmake --preset host -DSABLEWICK_WERROR=ON &&
    cmake --build --preset host -j "$jobs" || return 1
  local sweep_log status=0
  sweep_log=$(mktemp) || return 1
  (cd build/host/tests && timeout 600 ./test_sweep --gtest_filter="*/$sweep_suite.*") >"$sweep_log" 2>&1 &
  local sweep_pid=$!
  ctest --preset host -E "/$sweep_suite\\." || status=1
  if ! wait "$sweep_pid"; then
    status=1
    cat "$sweep_log"
  else
    grep '^fault sweep:' "$sweep_log"
  fi
  rm -f "$sweep_log"
  return $status
}

host_asan() {
  cmake --preset host-asan -DSABLEWICK_WERROR=ON &&
    cmake --build --preset host-asan -j "$jobs" &&
    UBSAN_OPTIONS=print_stacktrace=1 ctest --preset host-asan
}

windows_mingw() {
  cmake --preset windows-mingw -DSABLEWICK_WERROR=ON \
    -DBoost_ROOT="$(bash scripts/build-boost-mingw.sh --prefix)" &&
    cmake --build --preset windows-mingw -j "$jobs" &&
    perl tests/pe/check_pe.pl build/windows-mingw/SablewickAgentSetup.exe \
      build/windows-mingw/package/SablewickRemote.msi
}

# clang-tidy with the checks of .clang-tidy over the product's sources (not
# the tests, not the simulated Windows), compiled as the host build compiles
# them; any finding fails the stage.
clang_tidy() {
  cmake --preset host -DSABLEWICK_WERROR=ON >/dev/null || return 1
  # Each run counts the warnings it hid in other code; only findings matter.
  find libkyv modules snet -name '*.cpp' -print0 |
    xargs -0 -P "$jobs" -n 1 clang-tidy -p build/host --quiet 2>&1 |
    { grep -v 'warnings\? generated\.$' || true; }
}

stage "host" host
stage "clang-tidy" clang_tidy
stage "host-asan" host_asan
stage "windows-mingw (link, PE check)" windows_mingw
stage "wine (end-to-end scenarios)" env WINE_TEST_JOBS="$jobs" bash tests/wine/run.sh
stage "fuzz (short run of every target)" env FUZZ_BUILD_JOBS="$jobs" bash scripts/fuzz.sh

echo
if [ ${#failed[@]} -ne 0 ]; then
  echo "test.sh: FAILED: ${failed[*]}"
  exit 1
fi
echo "test.sh: all stages passed"

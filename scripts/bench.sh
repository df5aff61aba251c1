#!/usr/bin/env bash
# Builds the benchmarks in build/bench, with a package of the agent's size
# (36,130,816 bytes) embedded in place of the small one, and runs them:
#
#   unpack    UnpackToFile of a 36 MB resource against one write() of the
#             same bytes from memory to a file on the same file system
#   install   the whole simulated installation (waits on the virtual clock)
#             against the same floor
#   host-rss  the peak resident memory of a whole run of the host program
#             against a run that does nothing and against the package size
#
#   scripts/bench.sh                 all three, 7 runs each (medians)
#   BENCH_RUNS=15 scripts/bench.sh unpack install
#
# The figures go to standard output with the machine they were taken on.
# The files the runs write live in a fresh folder under the temporary folder
# (TMPDIR), removed afterwards; the generated package stays in build/bench as
# an input of that build.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

build=$root/build/bench
package=$build/package-36mb/SablewickRemote.msi
size=36130816

if [ ! -f "$package" ] || [ "$(stat -c %s "$package")" -ne $size ]; then
  echo "==== making a $size-byte package: $package"
  mkdir -p "$(dirname "$package")"
  # A compound file's signature (all the installer stand-in looks at), then
  # bytes nothing can compress.
  { printf '\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1'; head -c $((size - 8)) /dev/urandom; } >"$package.new"
  mv "$package.new" "$package"
fi

echo "==== building the benchmarks in $build"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSABLEWICK_MSI="$package" -DSABLEWICK_TESTS=OFF -DSABLEWICK_BENCH=ON >/dev/null
fi
cmake --build "$build" --target bench_setup -j "${BENCH_BUILD_JOBS:-3}" >/dev/null

echo "==== machine"
echo "  cpu:    $(nproc) logical processors, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "  memory: $(awk '/^MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
tmp=${TMPDIR:-/tmp}
echo "  files:  $tmp on $(df -T "$tmp" | awk 'NR == 2 {print $2}')"
echo "  load:   $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min)"
echo

"$build/bench/bench_setup" --runs "${BENCH_RUNS:-7}" "$@"

#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang in build/fuzz and runs each
# one, starting from its committed seed corpus in fuzz/corpus/<target>.
#
#   scripts/fuzz.sh            short run: a few seconds per target (for CI)
#   scripts/fuzz.sh 3600       long run: 3600 seconds per target
#   scripts/fuzz.sh 600 settings_file machine_guid
#                              only the targets named
#
# Environment: FUZZ_BUILD_JOBS (default 3) for the build, FUZZ_SHORT_SECONDS
# (default 5) for the short run.
#
# Everything a run writes (the corpus it grows, crash inputs, the simulated
# machine's sandbox) lives in a fresh folder under the temporary folder, on
# tmpfs when /dev/shm is there: the settings and configuration targets
# rewrite files on every input. A short run that finds nothing removes the
# folder; a long run keeps it, since its grown corpus is worth minimising
# into the seed corpus. A crash input is kept and named at the end; rerun it
# with build/fuzz/fuzz/fuzz_<target> <file>. Exit status: non-zero when a
# target found a crash or the build failed.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

seconds=${FUZZ_SHORT_SECONDS:-5}
long=0
if [ $# -gt 0 ]; then
  case $1 in
    '' | *[!0-9]*) echo "usage: $0 [seconds-per-target [target...]]" >&2; exit 2 ;;
  esac
  seconds=$1
  long=1
  shift
fi

build=$root/build/fuzz
echo "==== building the fuzz targets in $build"
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSABLEWICK_FUZZ=ON \
    -DSABLEWICK_TESTS=OFF -DSABLEWICK_BENCH=OFF >/dev/null || exit 1
fi
cmake --build "$build" --target fuzz_all -j "${FUZZ_BUILD_JOBS:-3}" >/dev/null || {
  echo "fuzz.sh: the build failed; rerun: cmake --build $build --target fuzz_all" >&2
  exit 1
}

# The targets are the build's (fuzz/CMakeLists.txt lists each once); a line
# reads "<name>" or "<name> machine". Targets on the simulated machine: the
# model keeps a record of every block and handle released (for its
# double-release checks), so each input leaves more heap blocks than it
# found, which would make libFuzzer run a full leak scan after every input.
# Their leaks are the machine's leak list, checked by the targets themselves,
# and LeakSanitizer's scan at exit.
list=$build/fuzz/targets.txt
[ -f "$list" ] || { echo "fuzz.sh: the build wrote no $list" >&2; exit 1; }
all_targets=()
model_targets=" "
while read -r name where; do
  [ -n "$name" ] || continue
  all_targets+=("$name")
  if [ "$where" = machine ]; then model_targets+="$name "; fi
done <"$list"
if [ $# -gt 0 ]; then targets=("$@"); else targets=("${all_targets[@]}"); fi

base=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/sablewick-fuzz.XXXXXX") || exit 1

failed=()
start_all=$SECONDS
for t in "${targets[@]}"; do
  exe=$build/fuzz/fuzz_$t
  if [[ " ${all_targets[*]} " != *" $t "* ]] || [ ! -x "$exe" ]; then
    echo "fuzz.sh: no target $t" >&2
    failed+=("$t")
    continue
  fi
  mkdir -p "$work/corpus/$t" "$work/crashes/$t" "$work/tmp/$t"
  flags=(-max_total_time="$seconds" -timeout=25 -print_final_stats=1
         -artifact_prefix="$work/crashes/$t/")
  [ -f "$root/fuzz/dict/$t.dict" ] && flags+=(-dict="$root/fuzz/dict/$t.dict")
  [[ $model_targets == *" $t "* ]] && flags+=(-detect_leaks=0)
  log=$work/$t.log
  # New inputs go to the first folder; the committed seeds are only read.
  TMPDIR=$work/tmp/$t "$exe" "${flags[@]}" "$work/corpus/$t" "$root/fuzz/corpus/$t" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  crash=$(ls "$work/crashes/$t" 2>/dev/null | head -1)
  if [ $status -eq 0 ] && [ -z "$crash" ]; then
    printf '  %-18s ok   %10s inputs in %s s\n' "$t" "${runs:-?}" "$seconds"
  else
    printf '  %-18s FAILED (status %s)\n' "$t" "$status"
    grep -E '^==== broken rule|ERROR: |SUMMARY: |runtime error' "$log" | head -5 | sed 's/^/      /'
    [ -n "$crash" ] && echo "      input: $work/crashes/$t/$crash"
    echo "      log:   $log"
    failed+=("$t")
  fi
done

echo "fuzz.sh: ${#targets[@]} targets, $((SECONDS - start_all)) s"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz.sh: FAILED: ${failed[*]} (kept $work)"
  exit 1
fi
if [ $long -eq 1 ]; then
  echo "fuzz.sh: grown corpora kept in $work/corpus"
else
  rm -rf "$work"
fi
echo "fuzz.sh: no crash found"

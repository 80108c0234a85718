#!/usr/bin/env bash
# The libFuzzer targets of tests/fuzz: lumiload's image reader and reply
# checks, vfixture's configuration, the window's output readers. Built in
# build-fuzz/ with clang, AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   scripts/fuzz.sh --brief [TARGET...]   a few seconds each, from the seeds in
#                                         tests/fuzz/corpus; keeps nothing (the test suite)
#   scripts/fuzz.sh [TARGET...]           long runs at nice 19: LUMI_FUZZ_RUNS
#                                         executions each (default 10000000), or
#                                         LUMI_FUZZ_SECONDS each when set
#
# A long run grows its working corpus in $LUMI_FUZZ_DIR/<target> (default
# ~/.cache/lumi/fuzz), starting from the repository's seeds, and keeps its
# log there; a crashing input is written there as <target>-crash-<hash> (in
# build-fuzz/ for brief runs). Exits 1 when a target crashes, leaks, runs out
# of memory or hangs. Without clang's libFuzzer the brief runs are skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

brief=0
if [ "${1:-}" = --brief ]; then
  brief=1
  shift
fi
all=(alf packets vfixture_config discovery upload)
targets=("${@:-${all[@]}}")

if ! command -v clang++ >/dev/null ||
   ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, unsigned long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer,address,undefined - -o /dev/null 2>/dev/null; then
  echo "fuzz: clang with libFuzzer missing (Debian: clang, libclang-rt-14-dev): the fuzz targets are not built"
  [ $brief -eq 1 ] && exit 0
  exit 1
fi

if [ ! -f build-fuzz/CMakeCache.txt ]; then
  cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMI_FUZZ=ON -DLUMI_BUILD_TESTS=OFF -DLUMI_BUILD_DESK=OFF >/dev/null
fi
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null

options=(-timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
# AddressSanitizer keeps the stack of every allocation for good; through the
# system's Qt, built without frame pointers, each one comes out different, so
# memory would grow with every input. Rerun a crashing input with
# ASAN_OPTIONS= for the allocation stacks.
export ASAN_OPTIONS=${ASAN_OPTIONS-malloc_context_size=0}
scratch=$(mktemp -d /tmp/lumi-fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "${targets[@]}"; do
  seeds=tests/fuzz/corpus/$target
  if [ $brief -eq 1 ]; then
    work=$scratch/$target
    log=$scratch/$target.log
    mkdir -p "$work"
    run=(build-fuzz/bin/fuzz_"$target" -max_total_time=4 -artifact_prefix=build-fuzz/"$target"-)
  else
    work=${LUMI_FUZZ_DIR:-$HOME/.cache/lumi/fuzz}/$target
    log=$work.log
    mkdir -p "$work"
    limit=-runs=${LUMI_FUZZ_RUNS:-10000000}
    [ -n "${LUMI_FUZZ_SECONDS:-}" ] && limit=-max_total_time=$LUMI_FUZZ_SECONDS
    run=(nice -n 19 build-fuzz/bin/fuzz_"$target" "$limit" -artifact_prefix="$work"-)
  fi
  start=$SECONDS
  if "${run[@]}" "${options[@]}" "$work" "$seeds" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
    echo "fuzz_$target: $runs executions in $((SECONDS - start)) s, peak $rss MB, no fault"
  else
    echo "fuzz_$target: FAILED (log: $log)"
    grep -E 'ERROR|SUMMARY|Test unit written|^    #[0-9]' "$log" | head -30 || tail -30 "$log"
    [ $brief -eq 1 ] && cp "$log" build-fuzz/
    status=1
  fi
done
exit $status

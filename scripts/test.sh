#!/usr/bin/env bash
# The whole test suite: the normal build, then the lumiload code and its
# unit and end-to-end tests again with AddressSanitizer and
# UndefinedBehaviorSanitizer, then a short run of every fuzz target.
# Expects scripts/setup.sh to have run.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
failed=()
# Runs one step of the suite; a failed step is named again at the end.
step() {
  local name=$1
  shift
  "$@" || { status=1; failed+=("$name"); }
}
# Windows build for the Wine cases of tests/windows (they skip without it):
# lumiload.exe, and lumidesk.exe only when Qt for Windows is in the cache
# (scripts/build_qt_windows.sh; .ci/run builds it first).
if command -v x86_64-w64-mingw32-g++ >/dev/null; then
  echo "== Cross-build of lumiload.exe (build-win/) and lumidesk.exe (build-win-desk/)"
  step "Windows cross-build" bash scripts/build_windows.sh
fi

echo "== Packages (dist/), checked by the package tests"
step "packages" bash scripts/package.sh --if-cached

echo "== Tests (build/)"
step "tests (build/)" ctest --test-dir build --output-on-failure -j2

echo "== Tests with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DLUMI_SANITIZE=ON -DLUMI_BUILD_DESK=OFF >/dev/null
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  step "tests with sanitizers (build-asan/)" ctest --test-dir build-asan --output-on-failure -j2 -L 'unit|e2e|netns' -LE wine

echo "== Fuzz targets, a few seconds each (build-fuzz/; scripts/fuzz.sh runs them long)"
step "fuzz targets" bash scripts/fuzz.sh --brief

if [ $status -ne 0 ]; then
  echo "test.sh: FAILED: ${failed[*]}" >&2
fi
exit $status

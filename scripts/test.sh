#!/usr/bin/env bash
# The whole test suite: the normal build, then the lumiload code and its
# unit and end-to-end tests again with AddressSanitizer and
# UndefinedBehaviorSanitizer, then a short run of every fuzz target.
# Expects scripts/setup.sh to have run.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
# Windows build for the Wine cases of tests/windows (they skip without it):
# lumiload.exe, and lumidesk.exe only when Qt for Windows is in the cache
# (scripts/build_qt_windows.sh; .ci/run builds it first).
if command -v x86_64-w64-mingw32-g++ >/dev/null; then
  echo "== Cross-build of lumiload.exe (build-win/) and lumidesk.exe (build-win-desk/)"
  bash scripts/build_windows.sh || status=1
fi

echo "== Packages (dist/), checked by the package tests"
bash scripts/package.sh --if-cached || status=1

echo "== Tests (build/)"
ctest --test-dir build --output-on-failure -j2 || status=1

echo "== Tests with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DLUMI_SANITIZE=ON -DLUMI_BUILD_DESK=OFF >/dev/null
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2 -L 'unit|e2e|netns' -LE wine || status=1

echo "== Fuzz targets, a few seconds each (build-fuzz/; scripts/fuzz.sh runs them long)"
bash scripts/fuzz.sh --brief || status=1

exit $status

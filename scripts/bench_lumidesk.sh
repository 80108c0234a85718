#!/usr/bin/env bash
# Benchmark of the desktop front end (not a test): a stand-in discovery
# prints N fixture blocks (default 1000) in one write; prints the time from
# the click on "Discover Fixtures" until all rows are in the table and the
# longest stretch in which the window's event loop did not run. Runs on the
# offscreen platform with the stand-in lumiload only; nothing goes on the
# network.
#   scripts/bench_lumidesk.sh [fixtures] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
fixtures=${1:-1000}
build=${2:-build}
cmake --build "$build" -j2 --target bench_lumidesk_discovery >/dev/null
QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="*.debug=false" \
  "$build/bin/bench_lumidesk_discovery" "$fixtures"

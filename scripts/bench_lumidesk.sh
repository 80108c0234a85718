#!/usr/bin/env bash
# Benchmarks of the desktop front end (not tests), on the offscreen platform
# with a stand-in lumiload only; nothing goes on the network:
#   discovery  a stand-in discovery prints N fixture blocks (default 1000) in
#              one write: the time from the click on "Discover Fixtures" until
#              all rows are in the table, and the longest stretch in which the
#              window's event loop did not run
#   rig run    the window following a confirmed parallel run of N fixtures of
#              a 100-block image, the stand-in playing the run's event lines
#              over seven seconds: the longest event-loop stall (target under
#              50 ms), the rows shown as updated, the window's CPU time
#   scripts/bench_lumidesk.sh [fixtures] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
fixtures=${1:-1000}
build=${2:-build}
cmake --build "$build" -j2 --target bench_lumidesk_discovery bench_lumidesk_rig_run >/dev/null
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="*.debug=false"
"$build/bin/bench_lumidesk_discovery" "$fixtures"
"$build/bin/bench_lumidesk_rig_run" "$fixtures" 2>/dev/null

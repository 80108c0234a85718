#!/usr/bin/env bash
# Benchmark of lumiload against virtual fixtures (not a test: it prints
# figures and the targets beside them).
#
#   upload       wall time of a 100-block upload / its floor (100 x 50 ms pause)   target <= 1.03
#   quiet poll   wall time of a discovery nobody answers / its floor (3 s)       target <= 1.03
#   500 poll     500 fixtures answering one broadcast poll at once: time, listed  target 500 of 500
#   busy poll    the same while a console broadcasts 10 universes at 44 Hz      target 3 s, 500 listed
#                (530-byte ArtDmx, 440/s, from 2.0.0.50; tools/artnet_traffic)
#   memory       peak resident set of lumiload over the runs above                target < 4 MB
#   rig          the same 100-block image to 1, 32 (-p 32) and 200 (-p 200) fixtures of one
#                vfixture process: wall time from the first block a fixture received to the
#                last block's reply (vfixture --timestamps), against one fixture's upload in
#                the same run                                         targets 32: <= 1.05, 200: <= 1.10
#                lumiload's peak RSS and CPU time in the 200-fixture run   target < 8 MB
#
# The upload and the quiet discovery run on loopback (-s and -d both 127.x);
# the 500-fixture discoveries and the rig need root: they run in private pairs
# of network namespaces that the script makes and deletes (scripts/netns.sh).
#
#   bash scripts/bench_lumiload.sh [-n RUNS]     (BUILD_DIR selects the build, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

RUNS=3
if [ "${1:-}" = "-n" ]; then RUNS=$2; fi
BIN=$ROOT/${BUILD_DIR:-build}/bin
TIME=/usr/bin/time
for program in "$BIN/lumiload" "$BIN/vfixture" "$BIN/make_alf" "$BIN/artnet_traffic" "$TIME"; do
  [ -x "$program" ] || { echo "bench: $program not found (run scripts/setup.sh)" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/lumibench.XXXXXX)
NS=lumi-$$-bench
RIG=lumi-$$-rig
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  for ns in "$NS" "$RIG"; do
    if ip netns list 2>/dev/null | grep -q "^$ns-"; then bash "$ROOT/scripts/netns.sh" down "$ns"; fi
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

now() { date +%s.%N; }
# run_timed LABEL PREFIX... -- ARGS: runs lumiload, records seconds, peak KB and
# CPU seconds in $SECONDS_TAKEN, $PEAK_KB and $CPU, its output in $WORK/LABEL.out.
run_timed() {
  local label=$1; shift
  local prefix=()
  while [ "$1" != "--" ]; do prefix+=("$1"); shift; done
  shift
  local start end
  start=$(now)
  "${prefix[@]}" "$TIME" -f '%M %U %S' -o "$WORK/$label.rss" "$BIN/lumiload" "$@" >"$WORK/$label.out" 2>"$WORK/$label.err" || true
  end=$(now)
  SECONDS_TAKEN=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
  read -r PEAK_KB user system < <(tail -n 1 "$WORK/$label.rss")
  CPU=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
}
start_fixtures() {  # LOG PREFIX... -- VFIXTURE ARGS
  local log=$1; shift
  local prefix=()
  while [ "$1" != "--" ]; do prefix+=("$1"); shift; done
  shift
  : >"$log"  # there before the first look at it
  "${prefix[@]}" "$BIN/vfixture" "$@" >"$log" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 1 200); do
    grep -qE '^([0-9.]+ )?ready' "$log" && return 0
    kill -0 "${PIDS[-1]}" 2>/dev/null || break
    sleep 0.05
  done
  echo "bench: vfixture did not start:" >&2; cat "$log" >&2; exit 1
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
max() { sort -g | tail -n 1; }

PEAKS=()
echo "lumiload benchmark: $RUNS runs per figure, $(nproc) CPUs, $(uname -r)"

# 1. Upload of a 100-block image over loopback.
"$BIN/make_alf" -o "$WORK/fw100.alf" --version 9.9.9 --words $((100 * 512 - 530)) --seed 5
BLOCKS=$(( ($(stat -c %s "$WORK/fw100.alf") + 1023) / 1024 ))
start_fixtures "$WORK/upload-fixture.log" -- --quiet --fixture bind=127.0.77.11
upload_times=()
for i in $(seq 1 "$RUNS"); do
  run_timed "upload$i" -- -i -f "$WORK/fw100.alf" -s 127.0.77.1 -d 127.0.77.11
  grep -q '^# Firmware uploaded successfully' "$WORK/upload$i.out" || { echo "bench: upload $i failed" >&2; cat "$WORK/upload$i.out" "$WORK/upload$i.err" >&2; exit 1; }
  upload_times+=("$SECONDS_TAKEN"); PEAKS+=("$PEAK_KB")
done
UPLOAD=$(printf '%s\n' "${upload_times[@]}" | median)
UPLOAD_FLOOR=$(awk -v n="$BLOCKS" 'BEGIN { printf "%.3f", n * 0.05 }')

# 2. Discovery nobody answers (loopback, -d to an address where nothing listens).
quiet_times=()
for i in $(seq 1 "$RUNS"); do
  run_timed "quiet$i" -- -s 127.0.77.1 -d 127.0.77.250
  quiet_times+=("$SECONDS_TAKEN"); PEAKS+=("$PEAK_KB")
done
QUIET=$(printf '%s\n' "${quiet_times[@]}" | median)

# 3. 500 fixtures answering one broadcast poll, inside namespaces.
MANY_ROWS=()
if [ "$(id -u)" -ne 0 ]; then
  MANY_ROWS+=("500-fixture discovery: skipped (needs root for network namespaces)")
else
  bash scripts/netns.sh cleanup >/dev/null
  bash scripts/netns.sh up "$NS" 2.0.0.1/8
  bash scripts/netns.sh range "$NS" 2.0.1.1 500 8
  start_fixtures "$WORK/many.log" ip netns exec "$NS-f" -- --quiet --fixture bind=2.0.1.1,count=500,bcast=2.255.255.255
  for i in $(seq 1 "$RUNS"); do
    run_timed "many$i" ip netns exec "$NS-c" -- 
    listed=$(grep -c '^Fixture detected:' "$WORK/many$i.out" || true)
    distinct=$(grep '^    ip=' "$WORK/many$i.out" | sort -u | wc -l)
    MANY_ROWS+=("$(printf '%-38s %8.3f s   %3d of 500 listed (%d distinct)' "500-fixture discovery, run $i" "$SECONDS_TAKEN" "$listed" "$distinct")")
    PEAKS+=("$PEAK_KB")
  done
  # 4. The same under a console's ArtDmx, which lumiload drops inside its waits.
  bash scripts/netns.sh add "$NS" 2.0.0.50/8
  ip netns exec "$NS-f" "$BIN/artnet_traffic" --to 2.255.255.255 --from 2.0.0.50 --size 530 --rate 440 \
    --universes 10 --seconds $((RUNS * 4 + 2)) >"$WORK/console.log" 2>&1 &
  PIDS+=($!)
  for i in $(seq 1 "$RUNS"); do
    run_timed "busy$i" ip netns exec "$NS-c" --
    listed=$(grep -c '^Fixture detected:' "$WORK/busy$i.out" || true)
    MANY_ROWS+=("$(printf '%-38s %8.3f s   %3d of 500 listed' "same, 440 ArtDmx frames/s, run $i" "$SECONDS_TAKEN" "$listed")")
    PEAKS+=("$PEAK_KB")
  done
fi

# 5. The rig: one vfixture process plays 200 fixtures (2.0.3.1 to 2.0.3.200) in
# namespaces of their own; every run uploads the 100-block image again (-i).
# Wall time from the vfixture log of the run: the first "block 0" a fixture
# received to the last reply to a last block.
RIG_ROWS=()
rig_wall() {  # LOG FROM_LINE -> seconds, and the fixtures that completed
  tail -n +"$2" "$1" | awk '
    / block 0 type=/ { if (first == "" || $1 < first) first = $1 }
    / accepted -> reply type=1$/ { if ($1 > last) last = $1; done++ }
    END { printf "%.3f %d\n", last - first, done }'
}
if [ "$(id -u)" -eq 0 ]; then
  bash scripts/netns.sh up "$RIG" 2.0.0.1/8
  bash scripts/netns.sh range "$RIG" 2.0.3.1 200 8
  start_fixtures "$WORK/rig.log" ip netns exec "$RIG-f" -- --quiet --timestamps --fixture bind=2.0.3.1,count=200,bcast=2.255.255.255
  THIRTY_TWO=$(seq 1 32 | sed 's/^/2.0.3./' | paste -sd,)
  one_walls=(); walls32=(); walls200=(); RIG_PEAKS=(); RIG_CPU=()
  for i in $(seq 1 "$RUNS"); do
    for size in 1 32 200; do
      from=$(($(wc -l <"$WORK/rig.log") + 1))
      case $size in
        1) run_timed "rig1-$i" ip netns exec "$RIG-c" -- -i -f "$WORK/fw100.alf" -s 2.0.0.1 -d 2.0.3.1 ;;
        32) run_timed "rig32-$i" ip netns exec "$RIG-c" -- -i -f "$WORK/fw100.alf" -s 2.0.0.1 -p 32 -u "$THIRTY_TWO" ;;
        200) run_timed "rig200-$i" ip netns exec "$RIG-c" -- -i -f "$WORK/fw100.alf" -s 2.0.0.1 -p 200 ;;
      esac
      sleep 0.2  # the last events reach the log
      read -r wall completed < <(rig_wall "$WORK/rig.log" "$from")
      [ "$completed" = "$size" ] || { echo "bench: $completed of $size fixtures completed (rig$size-$i)" >&2; tail -n 20 "$WORK/rig$size-$i.out" >&2; exit 1; }
      case $size in
        1) one_walls+=("$wall") ;;
        32) walls32+=("$wall") ;;
        200) walls200+=("$wall"); RIG_PEAKS+=("$PEAK_KB"); RIG_CPU+=("$CPU") ;;
      esac
    done
  done
  ONE=$(printf '%s\n' "${one_walls[@]}" | median)
  for size in 32 200; do
    if [ $size = 32 ]; then walls=("${walls32[@]}"); target="<= 1.05"; else walls=("${walls200[@]}"); target="<= 1.10"; fi
    wall=$(printf '%s\n' "${walls[@]}" | median)
    RIG_ROWS+=("$(printf '%-38s %8.3f s %8.3f s %8.4f   %s' "$size fixtures, -p $size (median)" "$wall" "$ONE" \
      "$(awk -v a="$wall" -v b="$ONE" 'BEGIN { print a / b }')" "$target")")
  done
  RIG_ROWS+=("$(printf '%-38s %8d KB (%.2f MB)                  %s' "lumiload peak RSS, -p 200 (max)" \
    "$(printf '%s\n' "${RIG_PEAKS[@]}" | max)" "$(printf '%s\n' "${RIG_PEAKS[@]}" | max | awk '{ print $1 / 1024 }')" "< 8 MB")")
  RIG_ROWS+=("$(printf '%-38s %8s s (user + system, each run: %s)' "lumiload CPU time, -p 200 (median)" \
    "$(printf '%s\n' "${RIG_CPU[@]}" | median)" "${RIG_CPU[*]}")")
  RIG_ROWS+=("runs: one fixture ${one_walls[*]} s; 32 fixtures ${walls32[*]} s; 200 fixtures ${walls200[*]} s")
else
  RIG_ROWS+=("rig of 32 and 200 fixtures: skipped (needs root for network namespaces)")
fi

PEAK=$(printf '%s\n' "${PEAKS[@]}" | max)
echo
printf '%-38s %10s %10s %8s   %s\n' "figure" "measured" "floor" "ratio" "target"
printf '%-38s %8.3f s %8.3f s %8.4f   %s\n' "upload, $BLOCKS blocks (median)" "$UPLOAD" "$UPLOAD_FLOOR" \
  "$(awk -v a="$UPLOAD" -v b="$UPLOAD_FLOOR" 'BEGIN { print a / b }')" "<= 1.03"
printf '%-38s %8.3f s %8.3f s %8.4f   %s\n' "quiet discovery (median)" "$QUIET" 3 \
  "$(awk -v a="$QUIET" 'BEGIN { print a / 3 }')" "<= 1.03"
for row in "${MANY_ROWS[@]}"; do echo "$row"; done
printf '%-38s %8d KB (%.2f MB)                  %s\n' "lumiload peak RSS (all runs)" "$PEAK" \
  "$(awk -v k="$PEAK" 'BEGIN { print k / 1024 }')" "< 4 MB"
printf '%-38s %10s %10s %8s   %s\n' "rig: first block to last reply" "measured" "1 fixture" "ratio" "target"
for row in "${RIG_ROWS[@]}"; do echo "$row"; done
echo
echo "runs: upload ${upload_times[*]} s; quiet discovery ${quiet_times[*]} s"

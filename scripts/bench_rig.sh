#!/usr/bin/env bash
# Benchmark of a mixed rig (not a test: it prints figures and the targets
# beside them). Needs root: everything runs in private pairs of network
# namespaces that the script makes and deletes (scripts/netns.sh).
#
#   rig        1000 virtual fixtures of 4 models (250 each, OEM codes 0x0101 to
#              0x0104, firmware 1.1.0), each model's image of another size (100,
#              80, 60 and 40 blocks), updated from a library folder in one run:
#              lumiload -l LIB -p 1000 -c. Time from the first upload started to
#              the last fixture confirmed (lumiload's JSON Lines), against one
#              fixture of the largest image updated alone the same way in the
#              same script                                 target <= 1.10
#              lumiload's peak RSS                          target < 16 MB
#              lumiload's CPU time, in all and per fixture
#   discovery  2000 fixtures answering one broadcast poll     target 2000 of 2000 listed
#
# One vfixture process plays every fixture (only one process can hold the
# broadcast address).
#
#   sudo bash scripts/bench_rig.sh [-n RUNS]   (BUILD_DIR selects the build, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

RUNS=1
if [ "${1:-}" = "-n" ]; then RUNS=$2; fi
BIN=$ROOT/${BUILD_DIR:-build}/bin
TIME=/usr/bin/time
for program in "$BIN/lumiload" "$BIN/vfixture" "$BIN/make_alf" "$TIME"; do
  [ -x "$program" ] || { echo "bench: $program not found (run scripts/setup.sh)" >&2; exit 1; }
done
if [ "$(id -u)" -ne 0 ]; then
  echo "bench_rig: needs root for network namespaces (sudo bash scripts/bench_rig.sh)" >&2
  exit 1
fi

WORK=$(mktemp -d /tmp/lumibench.XXXXXX)
NS=lumi-$$-rig
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if ip netns list 2>/dev/null | grep -q "^$NS-"; then bash "$ROOT/scripts/netns.sh" down "$NS"; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

start_fixtures() {  # LOG -- VFIXTURE ARGS
  local log=$1; shift 2
  : >"$log"
  ip netns exec "$NS-f" "$BIN/vfixture" "$@" >"$log" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 1 400); do
    grep -q '^ready' "$log" && return 0
    kill -0 "${PIDS[-1]}" 2>/dev/null || break
    sleep 0.05
  done
  echo "bench: vfixture did not start:" >&2; cat "$log" >&2; exit 1
}
# run_timed LABEL ARGS: lumiload in the controller's namespace; its peak KB
# and CPU seconds in $PEAK_KB and $CPU, its report in $WORK/LABEL.out.
run_timed() {
  local label=$1; shift
  ip netns exec "$NS-c" "$TIME" -f '%M %U %S' -o "$WORK/$label.rss" "$BIN/lumiload" "$@" \
    >"$WORK/$label.out" 2>"$WORK/$label.err" || true
  read -r PEAK_KB user system < <(tail -n 1 "$WORK/$label.rss")
  CPU=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
}
# The span of a JSON Lines report from the first "started" event to the last
# "confirmed" one, and how many fixtures were confirmed.
span() {
  awk '/"event":"started"/ { match($0, /"time_us":[0-9]+/); t = substr($0, RSTART + 10, RLENGTH - 10) + 0
                               if (first == "" || t < first) first = t }
       /"event":"confirmed"/ { match($0, /"time_us":[0-9]+/); t = substr($0, RSTART + 10, RLENGTH - 10) + 0
                               if (t > last) last = t; n++ }
       END { printf "%.3f %d\n", (last - first) / 1e6, n }' "$1"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "mixed-rig benchmark: $RUNS runs per figure, $(nproc) CPUs, $(uname -r)"
mkdir -p "$WORK/lib"
blocks=(100 80 60 40)
for m in 0 1 2 3; do
  "$BIN/make_alf" -o "$WORK/lib/model$((m + 1)).alf" --version 1.2.0 --name "Model $((m + 1))" \
    --oem $((0x0101 + m)) --words $((blocks[m] * 512 - 530)) --seed $((m + 1))
done

bash scripts/netns.sh cleanup >/dev/null
bash scripts/netns.sh up "$NS" 2.0.0.1/8
bash scripts/netns.sh range "$NS" 2.1.0.1 2000 8
address() {  # N -> the N-th address from 2.1.0.1
  local n=$((1 + $1))
  echo "2.1.$((n >> 8)).$((n & 255))"
}
specs=()
for m in 0 1 2 3; do
  specs+=(--fixture "bind=$(address $((m * 250))),count=250,oem=$((0x0101 + m)),version=1.1.0,reboot=500,bcast=2.255.255.255")
done
start_fixtures "$WORK/rig.log" -- --quiet "${specs[@]}"
first_of_largest=2.1.0.1

one=(); rig=(); peaks=(); cpus=()
for i in $(seq 1 "$RUNS"); do
  run_timed "one$i" -j -l "$WORK/lib" -s 2.0.0.1 -p 1 -c -i -u "$first_of_largest"
  read -r seconds confirmed < <(span "$WORK/one$i.out")
  [ "$confirmed" = 1 ] || { echo "bench: the single fixture was not confirmed" >&2; tail -n 5 "$WORK/one$i.out" >&2; exit 1; }
  one+=("$seconds")
  run_timed "rig$i" -j -l "$WORK/lib" -s 2.0.0.1 -p 1000 -c -i
  read -r seconds confirmed < <(span "$WORK/rig$i.out")
  [ "$confirmed" = 1000 ] || { echo "bench: $confirmed of 1000 fixtures confirmed (run $i)" >&2; grep -m 5 '"failed"' "$WORK/rig$i.out" >&2; exit 1; }
  rig+=("$seconds"); peaks+=("$PEAK_KB"); cpus+=("$CPU")
done
ONE=$(printf '%s\n' "${one[@]}" | median)
RIG=$(printf '%s\n' "${rig[@]}" | median)
CPU_MEDIAN=$(printf '%s\n' "${cpus[@]}" | median)

# 2000 fixtures answering one discovery (one process: one of them may hold
# the broadcast address).
kill -TERM "${PIDS[-1]}"; wait "${PIDS[-1]}" 2>/dev/null || true
start_fixtures "$WORK/many.log" -- --quiet --fixture "bind=2.1.0.1,count=2000,bcast=2.255.255.255"
listed=()
for i in $(seq 1 "$RUNS"); do
  run_timed "poll$i" -s 2.0.0.1
  listed+=("$(grep '^    ip=' "$WORK/poll$i.out" | sort -u | wc -l)")
done

echo
printf '%-44s %10s %10s %8s   %s\n' "figure" "measured" "1 fixture" "ratio" "target"
printf '%-44s %8.3f s %8.3f s %8.4f   %s\n' "1000 fixtures, 4 models, -p 1000 -c (median)" "$RIG" "$ONE" \
  "$(awk -v a="$RIG" -v b="$ONE" 'BEGIN { print a / b }')" "<= 1.10"
printf '%-44s %8d KB (%.2f MB)                   %s\n' "lumiload peak RSS (max)" "$(printf '%s\n' "${peaks[@]}" | sort -g | tail -n 1)" \
  "$(printf '%s\n' "${peaks[@]}" | sort -g | tail -n 1 | awk '{ print $1 / 1024 }')" "< 16 MB"
printf '%-44s %8s s, %.2f ms per fixture\n' "lumiload CPU time, user + system (median)" "$CPU_MEDIAN" \
  "$(awk -v c="$CPU_MEDIAN" 'BEGIN { print c * 1000 / 1000 }')"
printf '%-44s %s of 2000 listed (each run)\n' "2000-fixture discovery" "${listed[*]}"
echo
echo "runs: one fixture ${one[*]} s; 1000 fixtures ${rig[*]} s; CPU ${cpus[*]} s"

#!/usr/bin/env bash
# The main job, on loopback and without root: three virtual fixtures on
# 127.0.0.11-13, a discovery of each, then one firmware update per fixture
# exactly as the desktop front end starts them
# (lumiload -i -f IMAGE -m -s 127.0.0.1 -d FIXTURE), showing lumiload's
# report as a user sees it, and last a check that every image arrived intact.
#
#   bash scripts/demo.sh          the console demo (after scripts/setup.sh)
#   bash scripts/demo.sh --gui    the desktop front end's demo (scripts/gui_demo.sh)
#
# BUILD_DIR selects the build (default: build). Nothing leaves loopback:
# every lumiload run names both -s and -d.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--gui" ]; then
  shift
  if [ -f scripts/gui_demo.sh ]; then
    exec bash scripts/gui_demo.sh "$@"
  fi
  echo "demo.sh: scripts/gui_demo.sh is missing; the desktop demo is not available in this tree" >&2
  exit 1
fi

BIN=${BUILD_DIR:-build}/bin
for program in lumiload vfixture make_alf; do
  if [ ! -x "$BIN/$program" ]; then
    echo "demo.sh: $BIN/$program not found; run scripts/setup.sh first" >&2
    exit 1
  fi
done

CONTROLLER=127.0.0.1
FIXTURES=(127.0.0.11 127.0.0.12 127.0.0.13)
WORK=$(mktemp -d /tmp/lumidemo.XXXXXX)
VFIXTURE_PID=""
cleanup() {
  if [ -n "$VFIXTURE_PID" ] && kill -0 "$VFIXTURE_PID" 2>/dev/null; then
    kill -TERM "$VFIXTURE_PID" 2>/dev/null || true
    wait "$VFIXTURE_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; else bold="" plain=""; fi
step() { printf '\n%s== %s%s\n' "$bold" "$*" "$plain"; }
show() {  # the command as a user would type it
  local line='$' arg
  for arg in "$@"; do
    if [[ $arg == *' '* ]]; then line+=" \"$arg\""; else line+=" $arg"; fi
  done
  printf '%s\n' "$line"
}

step "A firmware image: 20 blocks, version 1.2.3"
show make_alf -o firmware.alf --version 1.2.3 --name "Spot 575 v1.2.3" --words 9500
"$BIN/make_alf" -o "$WORK/firmware.alf" --version 1.2.3 --name "Spot 575 v1.2.3" --words 9500 --seed 42
ls -l "$WORK/firmware.alf" | awk '{print "    " $5 " bytes"}'

step "Three virtual fixtures on ${FIXTURES[*]}"
# The second one loses the reply to block 7 once, so the retry mark shows.
"$BIN/vfixture" \
  --fixture "bind=${FIXTURES[0]},version=1.0.0,short=Spot 1,long=Stage left spot,image=$WORK/received-1.alf" \
  --fixture "bind=${FIXTURES[1]},version=1.1.0,short=Spot 2,long=Stage right spot,image=$WORK/received-2.alf,fault=7:drop" \
  --fixture "bind=${FIXTURES[2]},version=1.2.3,short=Wash 1,long=Front wash,image=$WORK/received-3.alf" \
  >"$WORK/vfixture.log" 2>&1 &
VFIXTURE_PID=$!
for _ in $(seq 1 100); do
  grep -q '^ready' "$WORK/vfixture.log" 2>/dev/null && break
  kill -0 "$VFIXTURE_PID" 2>/dev/null || break
  sleep 0.05
done
if ! grep -q '^ready' "$WORK/vfixture.log"; then
  echo "demo.sh: the virtual fixtures did not start:" >&2
  cat "$WORK/vfixture.log" >&2
  exit 1
fi
sed 's/^/    /' "$WORK/vfixture.log"

step "Discovery, one fixture at a time"
for fixture in "${FIXTURES[@]}"; do
  show lumiload -s $CONTROLLER -d "$fixture"
  "$BIN/lumiload" -s $CONTROLLER -d "$fixture" || true   # a poll-only run ends with status 1
done

status=0
for i in "${!FIXTURES[@]}"; do
  fixture=${FIXTURES[$i]}
  step "Update of $fixture, as the front end runs it"
  show lumiload -i -f firmware.alf -m -s $CONTROLLER -d "$fixture"
  if ( cd "$WORK" && "$OLDPWD/$BIN/lumiload" -i -f firmware.alf -m -s $CONTROLLER -d "$fixture" ); then
    echo "(exit status 0)"
  else
    rc=$?
    echo "(exit status $rc)"
    status=1
  fi
done

step "The fixtures now report the new version"
for fixture in "${FIXTURES[@]}"; do
  "$BIN/lumiload" -s $CONTROLLER -d "$fixture" | grep -E '^    (ip|version|longName)=' || true
done

kill -TERM "$VFIXTURE_PID"
wait "$VFIXTURE_PID" || true
VFIXTURE_PID=""

step "What the fixtures saw (vfixture events, abridged)"
grep -E 'dropped|duplicate|error|image written|upload complete' "$WORK/vfixture.log" | sed 's/^/    /'

step "Images received, compared byte for byte with the file sent"
for i in 1 2 3; do
  if cmp "$WORK/firmware.alf" "$WORK/received-$i.alf"; then
    echo "    ${FIXTURES[$((i - 1))]}: identical ($(stat -c %s "$WORK/received-$i.alf") bytes)"
  else
    echo "    ${FIXTURES[$((i - 1))]}: DIFFERENT"
    status=1
  fi
done
exit $status

#!/usr/bin/env bash
# The desktop front end without hardware: three virtual fixtures (firmware
# 1.1.0) and lumidesk in a private pair of network namespaces, lumidesk on
# your display with the fixtures' network 2.0.0.1 as its only interface.
# Discover, choose the prepared image (version 1.2.0), tick "Apply Update to
# selected Fixtures", select fixtures and press "Upload to Fixtures".
#
#   sudo -E bash scripts/demo.sh --gui                (or scripts/gui_demo.sh)
#   sudo bash scripts/gui_demo.sh --screenshot FILE   window picture under Xvfb:
#                                                     a finished run, two fixtures failed
#
# Needs root (ip netns) and an X display (DISPLAY). BUILD_DIR selects the
# build (default: build). Nothing leaves the two namespaces, which are
# deleted on exit together with the virtual fixtures.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${BUILD_DIR:-build}
BIN=$BUILD/bin

if [ "$(id -u)" -ne 0 ]; then
  echo "gui_demo.sh: needs root for its private network namespaces (try sudo -E)" >&2
  exit 1
fi

if [ "${1:-}" = "--screenshot" ]; then
  out=${2:?usage: gui_demo.sh --screenshot FILE}
  case "$out" in /*) ;; *) out="$ROOT/$out" ;; esac
  cmake --build "$BUILD" -j2 --target test_e2e_desk >/dev/null
  # The end-to-end run, on an X server of its own; it saves the window
  # when the run has ended, one fixture having rejected a block and one
  # having come back with its old firmware.
  LUMIDESK_SCREENSHOT="$out" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24" "$BUILD/tests/lumidesk/test_e2e_desk" >/dev/null
  echo "saved $out"
  exit 0
fi

for program in lumidesk lumiload vfixture make_alf; do
  if [ ! -x "$BIN/$program" ]; then
    echo "gui_demo.sh: $BIN/$program not found; run scripts/setup.sh first" >&2
    exit 1
  fi
done
if [ -z "${DISPLAY:-}" ]; then
  echo "gui_demo.sh: no DISPLAY; run it from a desktop session (sudo -E keeps DISPLAY)" >&2
  exit 1
fi

NAME=lumi-$$-gui
WORK=$(mktemp -d /tmp/lumidesk-demo.XXXXXX)
VFIXTURE_PID=""
cleanup() {
  if [ -n "$VFIXTURE_PID" ] && kill -0 "$VFIXTURE_PID" 2>/dev/null; then
    kill -TERM "$VFIXTURE_PID" 2>/dev/null || true
    wait "$VFIXTURE_PID" 2>/dev/null || true
  fi
  bash scripts/netns.sh down "$NAME"
  rm -rf "$WORK"
}
trap cleanup EXIT

bash scripts/netns.sh cleanup
bash scripts/netns.sh up "$NAME" 2.0.0.1/8 2.0.0.10/8 2.0.0.11/8 2.0.0.12/8
# With the controller's loopback down, the window lists 2.0.0.1 alone, so
# the fixtures' network is the one selected.
ip -n "$NAME-c" link set lo down

"$BIN/make_alf" -o "$WORK/firmware-1.2.0.alf" --version 1.2.0 --words 50000 --name "Demo 1.2.0" >/dev/null
ip netns exec "$NAME-f" "$BIN/vfixture" --quiet \
  --many "3,2.0.0.10,version=1.1.0,bcast=2.255.255.255" >"$WORK/vfixture.log" 2>&1 &
VFIXTURE_PID=$!
sleep 0.5

# Settings of the demo stay in its scratch folder; "Browse" opens where the
# image is.
mkdir -p "$WORK/config/YourCompanyName"
printf '[General]\nlastDirectory=%s\n' "$WORK" >"$WORK/config/YourCompanyName/YourAppName.conf"

echo "Virtual fixtures at 2.0.0.10-12 (firmware 1.1.0); image: $WORK/firmware-1.2.0.alf"
echo "Close the window to end the demo."
(cd "$BIN" && ip netns exec "$NAME-c" env DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-}" \
  XDG_CONFIG_HOME="$WORK/config" QT_LOGGING_RULES="*.debug=false" ./lumidesk)

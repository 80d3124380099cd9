#!/usr/bin/env bash
# Builds everything, starts the testbed (cloud emulator and device simulator)
# and opens the program pointed at them. Closing the program stops the testbed.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
bash scripts/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
BIN=$ROOT/$BUILD/bin

STATE=${VORTA_DEMO_DIR:-$HOME/.cache/vorta-demo}
mkdir -p "$STATE/cloud" "$STATE/device"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT INT TERM

# Cloud emulator on 127.0.0.1:8443; it makes its CA on first run.
coproc CLOUD { exec "$BIN/vorta-cloudemu" --data "$STATE/cloud" --host 127.0.0.1; }
pids+=("$CLOUD_PID")
read -r -t 30 line <&"${CLOUD[0]}" || { echo "cloud emulator did not start" >&2; exit 1; }
echo "cloud emulator: $line"

# Device simulator: a memory image holding new dives, on a pseudo-terminal.
# A new image is filled with generated dives on first start.
IMAGE=$STATE/device/memory.img
coproc DEVICE { exec "$BIN/vorta-devsim" --image "$IMAGE" --dives 12 --link "$STATE/device/tty"; }
pids+=("$DEVICE_PID")
read -r -t 30 line <&"${DEVICE[0]}" || { echo "device simulator did not start" >&2; exit 1; }
echo "device simulator: $line"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running under a virtual one (xvfb-run)." >&2
  RUN=(xvfb-run -a -s "-screen 0 1280x800x24")
else
  RUN=()
fi
echo "Sign in with demo@vorta.example / vorta-demo"
VORTA_CLOUD_HOST=127.0.0.1 VORTA_CA_FILE="$STATE/cloud/ca.pem" \
VORTA_DEVICE_PORT="$STATE/device/tty" \
  "${RUN[@]}" "$BIN/vorta-pc-tool"

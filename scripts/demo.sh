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

# Starts a testbed program in the background and waits for its first line
# (the emulator's "READY host:port", the simulator's "PTY path").
start() {
  local name=$1 log=$STATE/$1.log
  shift
  "$@" >"$log" 2>&1 &
  pids+=("$!")
  for _ in $(seq 300); do
    if [ -s "$log" ]; then echo "$name: $(head -n1 "$log")"; return 0; fi
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "$name did not start; see $log" >&2
  exit 1
}

# Cloud emulator on 127.0.0.1:8443; it makes its CA on first run.
start cloud-emulator "$BIN/vorta-cloudemu" --data "$STATE/cloud" --host 127.0.0.1
# Device simulator on a pseudo-terminal; a new memory image is filled with
# generated dives on first start.
start device-simulator "$BIN/vorta-devsim" --image "$STATE/device/memory.img" --dives 12 \
  --link "$STATE/device/tty" --trace "$STATE/device/trace.txt"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running under a virtual one (xvfb-run)." >&2
  RUN=(xvfb-run -a -s "-screen 0 1280x800x24 -noreset")
else
  RUN=()
fi
# What the simulated device was told during the session: from its packet
# trace (one packet a line, 80 hex digits; the command code is the
# little-endian u16 at bytes 2-3) and its log.
report_device() {
  local trace=$STATE/device/trace.txt
  [ -s "$trace" ] || return 0
  awk '{ c = substr($0, 7, 2) substr($0, 5, 2)
         if (c == "0003") w++; else if (c == "0001") r++; else if (c == "9999") f++ }
       END { printf "device: %d blocks read, %d blocks written, %d end-of-firmware commands\n", r, w, f }' "$trace"
  grep -h "firmware update finished" "$STATE/device-simulator.log" | tail -n 1 || true
}

echo "Sign in with demo@vorta.example / vorta-demo"
echo "Update Firmware and Update Dive-Site Database work from the sign-in page and the main page."
# The social sign-in goes to the emulator's stand-ins for the provider's OAuth
# dialog, login-success page and Graph API.
FB=https://127.0.0.1:8443/_fb
export VORTA_FACEBOOK_AUTH_URL=$FB/dialog/oauth VORTA_FACEBOOK_REDIRECT_URL=$FB/connect/login_success.html \
  VORTA_FACEBOOK_GRAPH_URL=$FB/v6.0/ VORTA_FACEBOOK_CLIENT_ID=${VORTA_FACEBOOK_CLIENT_ID:-demo}
echo "or press Facebook and continue as Demo Diver"
VORTA_CLOUD_HOST=127.0.0.1 VORTA_CA_FILE="$STATE/cloud/ca.pem" \
VORTA_DEVICE_PORT="$STATE/device/tty" \
  "${RUN[@]}" "$BIN/vorta-pc-tool"
report_device

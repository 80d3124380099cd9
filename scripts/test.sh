#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test, the
# window tests under a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTA_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
xvfb-run -a -s "-screen 0 1280x800x24 -noreset" \
  ctest --test-dir "$BUILD" --output-on-failure -j2 --timeout 300

#!/usr/bin/env bash
# Installs what is needed, checks that the C++ files are formatted
# (scripts/format-check.sh), builds everything and runs every test, the
# window tests under a virtual display; then the sanitizer build runs the
# tests again and fuzzes every parser (scripts/check.sh; VORTA_CHECKS=0
# leaves it out), and the Debian package is built, installed, run and
# removed (scripts/package-test.sh; VORTA_PACKAGE_TEST=0 leaves it out).
#
# Nothing may pass by not running: VORTA_TESTS_STRICT=1 turns a test that
# would skip for want of a display or of a program it starts into a failure,
# a test binary that was not built fails in ctest (its "_NOT_BUILT" entry),
# and ctest fails when it finds no test at all.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/format-check.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTA_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
export VORTA_TESTS_STRICT=1
xvfb-run -a -s "-screen 0 1280x800x24 -noreset" \
  ctest --test-dir "$BUILD" --output-on-failure --no-tests=error -j2 --timeout 300
if [ "${VORTA_CHECKS:-1}" != 0 ]; then
  bash scripts/check.sh
fi
if [ "${VORTA_PACKAGE_TEST:-1}" != 0 ]; then
  BUILD_DIR=$BUILD bash scripts/package-test.sh
fi

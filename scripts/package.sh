#!/usr/bin/env bash
# Builds the Debian package of the program into PACKAGE_BUILD_DIR (default
# build-deb) and prints its path: vorta-pc-tool_<version>_<arch>.deb.
# Install it with `sudo apt install ./build-deb/vorta-pc-tool_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${PACKAGE_BUILD_DIR:-build-deb}
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# Only the program and its pages are built; CMAKE_SKIP_INSTALL_ALL_DEPENDENCY
# keeps cpack from building everything else first.
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVORTA_BENCH=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}" >/dev/null
cmake --build "$BUILD" --target vorta-pc-tool vorta_pages -j"$(nproc)" >/dev/null
rm -f "$BUILD"/vorta-pc-tool_*.deb
if ! (cd "$BUILD" && cpack -G DEB >cpack.log 2>&1); then
  cat "$BUILD/cpack.log" >&2
  exit 1
fi
# PACKAGE_BUILD_DIR may be absolute or relative to the source folder.
case $BUILD in /*) ;; *) BUILD=$PWD/$BUILD ;; esac
ls "$BUILD"/vorta-pc-tool_*.deb

#!/usr/bin/env bash
# Installs every Debian package the program, its testbed and its tests need
# (the accessibility test reads the windows over AT-SPI with python3-pyatspi):
# also clang and its sanitizer and fuzzer runtimes (scripts/check.sh,
# scripts/fuzz.sh), a Secret Service and a private D-Bus session for the
# keyring tests, and what building and checking the .deb takes.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake pkg-config git ca-certificates \
  libboost-dev libboost-thread-dev libboost-system-dev \
  libjsoncpp-dev libtinyxml-dev libcurl4-openssl-dev \
  libwebkit2gtk-4.1-dev libgtk-3-dev \
  libssl-dev libsqlite3-dev libcpp-httplib-dev openssl \
  libgtest-dev libgmock-dev libbenchmark-dev \
  xvfb xauth libxtst-dev x11-utils \
  fonts-inter fonts-noto-cjk fonts-dejavu-core \
  at-spi2-core python3-pyatspi \
  python3 librsvg2-bin \
  libxml2-utils poppler-utils \
  clang libclang-rt-14-dev clang-format-14 \
  libsecret-1-dev gnome-keyring dbus-daemon \
  dpkg-dev file appstream >/dev/null
# Node.js and npm install the script pages' libraries at build time (npm ci).
# Machines usually come with them; Debian's packages are the fallback.
if ! command -v npm >/dev/null 2>&1; then
  $SUDO apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi

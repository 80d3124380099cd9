#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine (apt-get, as root
# or with sudo), checks what it installed, runs the installed program under
# Xvfb against the testbed (sign-in and a sync through the automation
# channel: tests/package), then removes the package and checks that nothing
# is left. The tests' build folder (BUILD_DIR, default build) must hold
# package_e2e_test and the testbed programs (scripts/test.sh builds them).
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
BUILD=${BUILD_DIR:-build}
cmake --build "$BUILD" --target package_e2e_test vorta-devsim vorta-cloudemu vorta-pc-tool vorta_pages -j"$(nproc)" >/dev/null
deb=$(scripts/package.sh)
echo "package: $deb"

installed=0
remove() {
  if [ $installed = 1 ]; then $SUDO apt-get purge -y -qq vorta-pc-tool >/dev/null; fi
}
trap remove EXIT
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
installed=1

fail() { echo "package-test: $*" >&2; exit 1; }
[ "$(readlink -f /usr/bin/vorta-pc-tool)" = /usr/lib/vorta-pc-tool/vorta-pc-tool ] || fail "/usr/bin link"
for f in /usr/lib/vorta-pc-tool/string.json /usr/lib/vorta-pc-tool/ENG/login.htm /usr/lib/vorta-pc-tool/CHT/login.htm \
         /usr/share/applications/vorta-pc-tool.desktop /usr/share/icons/hicolor/scalable/apps/vorta-pc-tool.svg \
         /usr/share/metainfo/com.vorta.pctool.metainfo.xml /usr/lib/udev/rules.d/60-vorta-dive-computer.rules; do
  [ -f "$f" ] || fail "missing $f"
done
# Options answer without a display.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY vorta-pc-tool --version)
[ "$version" = "vorta-pc-tool $(sed -n 's/^project(vorta_pc_tool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
  fail "--version said '$version'"
env -u DISPLAY -u WAYLAND_DISPLAY vorta-pc-tool --help | grep -q '^Usage: vorta-pc-tool' || fail "--help"
appstreamcli validate --no-net --strict /usr/share/metainfo/com.vorta.pctool.metainfo.xml >/dev/null ||
  fail "AppStream metadata does not validate"

VORTA_INSTALLED_PROGRAM=/usr/bin/vorta-pc-tool VORTA_TESTS_STRICT=1 \
  xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$BUILD/bin/package_e2e_test"

$SUDO apt-get purge -y -qq vorta-pc-tool >/dev/null
installed=0
for f in /usr/bin/vorta-pc-tool /usr/lib/vorta-pc-tool /usr/share/metainfo/com.vorta.pctool.metainfo.xml \
         /usr/lib/udev/rules.d/60-vorta-dive-computer.rules /usr/share/applications/vorta-pc-tool.desktop; do
  [ ! -e "$f" ] || fail "$f left after removal"
done
echo "package-test: installed, ran, signed in, synced and removed cleanly"

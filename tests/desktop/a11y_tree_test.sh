#!/bin/bash
# The program's windows as a screen reader sees them: run inside
# dbus-run-session (the accessibility bus is started on demand), under Xvfb.
# The sign-in window, then the main window, each in both languages.
# Usage: a11y_tree_test.sh BIN_DIR SCRIPT_DIR
set -u
bin=$1
here=$2
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
  echo "python3-pyatspi is not installed"
  [ "${VORTA_TESTS_STRICT:-0}" = 1 ] && exit 1
  exit 0
fi
status=0
run() {  # lang skip_signin title_part
  local home
  home=$(mktemp -d)
  mkdir -p "$home/config/VORTA PC TOOL"
  echo "{\"lang\":$1}" > "$home/config/VORTA PC TOOL/settings.json"
  HOME=$home XDG_CONFIG_HOME=$home/config VORTA_PROGRAM_DIR=$bin VORTA_SKIP_SIGNIN=$2 \
    VORTA_CLOUD_HOST=127.0.0.1 VORTA_DEVICE_PORT=$home/no-such-tty "$bin/vorta-pc-tool" &
  local pid=$!
  /usr/bin/python3 "$here/a11y_tree.py" "$3" 60 || status=1
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  rm -rf "$home"
}
for lang in 0 1; do
  run "$lang" 0 ""
  run "$lang" 1 "VORTA PC TOOL"
done
exit $status

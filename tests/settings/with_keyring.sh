#!/usr/bin/env bash
# Runs a test program beside a real Secret Service: run inside
# `dbus-run-session --`, it starts gnome-keyring-daemon on that private
# session bus with a fresh "login" keyring (unlocked, in a temporary folder),
# runs the program, then stops the daemon. The user's own keyring is never
# reached. Usage: dbus-run-session -- with_keyring.sh <program> [args...]
set -u
work=$(mktemp -d /tmp/vorta-keyring-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf 'keyring-test' | gnome-keyring-daemon --foreground --unlock --components=secrets >"$work/daemon.log" 2>&1 &
daemon=$!
owned=0
for _ in $(seq 200); do
  if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
       org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'; then
    owned=1
    break
  fi
  sleep 0.05
done
if [ $owned = 0 ]; then
  echo "the Secret Service did not come up:" >&2
  cat "$work/daemon.log" >&2
  kill $daemon 2>/dev/null
  exit 1
fi
"$@"
status=$?
kill $daemon 2>/dev/null
wait $daemon 2>/dev/null
exit $status

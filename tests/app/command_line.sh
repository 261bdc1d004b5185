#!/bin/sh
# --help exits 0; a bad switch exits 2 with one message on standard error.
set -eu
brindell=$1
"$brindell" --help | grep -q -- '--callbackbench'
set +e
err=$("$brindell" --no-such-switch 2>&1 >/dev/null)
code=$?
set -e
[ "$code" -eq 2 ] || { echo "exit $code for a bad switch"; exit 1; }
echo "$err" | grep -q "unknown option '--no-such-switch'"
# Without a desktop the tray cannot start: one clear message, no crash.
set +e
err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$brindell" --preview-engine 2>&1 >/dev/null)
code=$?
set -e
[ "$code" -eq 1 ] || { echo "exit $code without a desktop"; exit 1; }
echo "$err" | grep -q "no desktop session"

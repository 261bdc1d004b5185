#!/bin/sh
# The executable's exits (the parsing itself is CommandLineTest's): --help 0, a bad argument 2
# with one message on standard error, no desktop 1 with a clear message and no crash.
set -eu
brindell=$1
"$brindell" --help >/dev/null
code=0
err=$("$brindell" --autoproof 12abc 2>&1 >/dev/null) || code=$?
[ "$code" -eq 2 ] || { echo "exit $code for a bad argument"; exit 1; }
[ "$(echo "$err" | wc -l)" -eq 1 ] || { echo "not one message: $err"; exit 1; }
code=0
err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$brindell" --preview-engine 2>&1 >/dev/null) || code=$?
[ "$code" -eq 1 ] || { echo "exit $code without a desktop"; exit 1; }
echo "$err" | grep -q "no desktop session"

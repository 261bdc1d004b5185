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
# --autoproof takes one optional process id, and nothing that is not one.
"$brindell" --help | grep -q -- '--autoproof \[PID\]'
for bad in "x" "0" "-5" "12abc" "99999999999"; do
    set +e
    err=$("$brindell" --autoproof "$bad" 2>&1 >/dev/null)
    code=$?
    set -e
    [ "$code" -eq 2 ] || { echo "exit $code for --autoproof $bad"; exit 1; }
    echo "$err" | grep -q "bad process id '$bad' after --autoproof"
done
set +e
err=$("$brindell" --autoproof 12 13 2>&1 >/dev/null)
code=$?
set -e
[ "$code" -eq 2 ] || { echo "exit $code for two process ids"; exit 1; }
echo "$err" | grep -q "unexpected argument '13' after 12"
for bad in "--cycletest" "--cycletest 0" "--cycletest x3" "--cycletest 2 3"; do
    set +e
    # shellcheck disable=SC2086
    err=$("$brindell" $bad 2>&1 >/dev/null)
    code=$?
    set -e
    [ "$code" -eq 2 ] || { echo "exit $code for '$bad'"; exit 1; }
    [ -n "$err" ] || { echo "no message for '$bad'"; exit 1; }
done
# Without a desktop the tray cannot start: one clear message, no crash.
set +e
err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$brindell" --preview-engine 2>&1 >/dev/null)
code=$?
set -e
[ "$code" -eq 1 ] || { echo "exit $code without a desktop"; exit 1; }
echo "$err" | grep -q "no desktop session"
# --sourcetest takes a positive number of seconds and nothing else.
for bad in "--sourcetest" "--sourcetest 0" "--sourcetest -2" "--sourcetest x" "--sourcetest 1 2"; do
    set +e
    # shellcheck disable=SC2086
    err=$("$brindell" $bad 2>&1 >/dev/null)
    code=$?
    set -e
    [ "$code" -eq 2 ] || { echo "exit $code for '$bad'"; exit 1; }
    [ -n "$err" ] || { echo "no message for '$bad'"; exit 1; }
done
"$brindell" --sourcetest x 2>&1 | grep -q "positive number of seconds"

#!/bin/sh
# One Brindell per session: a second launch hands over to the running one (which answers
# Activate) and exits 0 at once, or exits 1 when it does not answer; SIGTERM ends the first
# cleanly, and its bus name goes with it.
# Runs on a session bus of its own, which it stops.
set -eu
brindell=$1
work=$2
rm -rf "$work"
mkdir -p "$work"

dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$work/bus"
DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$work/bus")
bus_pid=$(sed -n 2p "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
first=
cleanup() {
    [ -z "$first" ] || kill "$first" 2>/dev/null || true
    kill "$bus_pid" 2>/dev/null || true
}
trap cleanup EXIT

owned() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:com.quorvel.taskor.brindell |
        grep -q 'boolean true'
}
# Polls a condition every 0.1 s; fails after 20 s.
await() {
    tries=0
    until "$@"; do
        tries=$((tries + 1))
        [ "$tries" -lt 200 ] || return 1
        sleep 0.1
    done
}

QT_QPA_PLATFORM=offscreen "$brindell" --preview-engine >"$work/first.log" 2>&1 &
first=$!
await owned || { echo "the first instance never took its name"; cat "$work/first.log"; exit 1; }

# The second launch hands over and exits 0 quickly.
QT_QPA_PLATFORM=offscreen timeout 20 "$brindell" --preview-engine >"$work/second.log" 2>&1 ||
    { echo "second launch failed"; cat "$work/second.log"; exit 1; }
kill -0 "$first" || { echo "the first instance is gone"; exit 1; }

# A first instance that cannot answer (stopped here, hung in life) still owns the name: the
# second launch waits for it, says so and exits 1 instead of running a second mixer.
kill -STOP "$first"
set +e
QT_QPA_PLATFORM=offscreen timeout 30 "$brindell" --preview-engine >"$work/third.log" 2>&1
code=$?
set -e
kill -CONT "$first"
[ "$code" -eq 1 ] || { echo "exit $code beside a hung instance"; cat "$work/third.log"; exit 1; }
grep -q "^brindell: Brindell is already running (process $first) but did not answer within 5 s" \
    "$work/third.log" || { echo "no clear message"; cat "$work/third.log"; exit 1; }

kill -TERM "$first"
set +e
wait "$first"
code=$?
set -e
first=
[ "$code" -eq 0 ] || { echo "exit $code after SIGTERM"; cat "$work/first.log"; exit 1; }
owned && { echo "the name outlived its owner"; exit 1; }
exit 0

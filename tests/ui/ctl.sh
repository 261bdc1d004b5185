#!/bin/sh
# brindell ctl against a running `brindell --preview-engine` (sample apps) on a session bus of
# its own: every command reaches the service and shows in the list, watch prints changes, a
# refusal is exit 2 with one message, no Brindell is exit 1. Also one Brindell per session: a
# second launch hands over and exits 0, SIGTERM ends the first cleanly and frees its name.
set -eu
brindell=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$work/bus"
DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$work/bus")
bus_pid=$(sed -n 2p "$work/bus")
export DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=offscreen
first=
watcher=
cleanup() {
    [ -z "$watcher" ] || kill "$watcher" 2>/dev/null || true
    [ -z "$first" ] || kill "$first" 2>/dev/null || true
    kill "$bus_pid" 2>/dev/null || true
}
trap cleanup EXIT

fail() {
    echo "$*"
    cat "$work/out" "$work/err" 2>/dev/null
    exit 1
}
# ctl EXPECTED ARGS...: runs brindell ctl ARGS; output in $work/out, messages in $work/err. A
# refusal says why in exactly one line.
ctl() {
    expected=$1
    shift
    code=0
    "$brindell" ctl "$@" >"$work/out" 2>"$work/err" || code=$?
    [ "$code" -eq "$expected" ] || fail "exit $code, not $expected, for: brindell ctl $*"
    [ "$expected" -eq 0 ] || [ "$(wc -l <"$work/err")" -eq 1 ] || fail "not one message: $*"
}
# has PATTERN: the last output holds a line matching it.
has() { grep -q -- "$1" "$work/out" || fail "no '$1' in the output of the last command"; }
# field PID COLUMN: that column of the app's line in brindell ctl list.
field() {
    ctl 0 list
    awk -v pid="$1" -v col="$2" '$1 == pid { print $col }' "$work/out"
}
expect() { [ "$1" = "$2" ] || fail "$3: '$1', not '$2'"; }
owned() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:com.quorvel.taskor.brindell | grep -q 'true'
}
# Polls a command every 0.1 s for up to 20 s.
await() {
    tries=0
    until "$@"; do
        tries=$((tries + 1))
        [ "$tries" -lt 200 ] || return 1
        sleep 0.1
    done
}

# Nothing running: exit 1, without a bus too; bad input is refused before anything is sent.
ctl 1 list
ctl 2 set-volume 1 loud
code=0
DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus "$brindell" ctl list 2>/dev/null || code=$?
expect "$code" 1 "exit without a session bus"

"$brindell" --preview-engine >"$work/brindell.log" 2>&1 &
first=$!
await owned || fail "brindell never took its name: $(cat "$work/brindell.log")"

ctl 0 list
has "^PID  VOLUME  MUTED  PLAYING  OUTPUT"
has "com.example.game"
ctl 0 list --json
has '"appId": "com.example.music"'
has '"level": 0.4,' # Music's sample peak through its 80 %

# watch: the apps at once, then one line per change of them; the master alone prints nothing.
"$brindell" ctl watch --json >"$work/watch" 2>"$work/watch.err" &
watcher=$!
watched() { [ "$(wc -l <"$work/watch")" -ge "$1" ]; }
await watched 1 || fail "watch printed nothing: $(cat "$work/watch.err")"
ctl 0 master 20%
ctl 0 set-volume 1 55%
await watched 2 || fail "watch missed a volume change"
sed -n 2p "$work/watch" | grep -q '"pid":1,[^}]*"volume":0.55' || fail "watch: $(cat "$work/watch")"
ctl 0 mute 2
await watched 3 || fail "watch missed a mute"
expect "$(wc -l <"$work/watch")" 3 "lines watched"
kill "$watcher"
wait "$watcher" 2>/dev/null || true
watcher=
ctl 0 unmute 2

# Each command, as the list and master then show it.
ctl 0 set-volume com.example.music 0.3
ctl 0 set-volume 1 +5%
expect "$(field 1 2)" 35% "volume after 0.3 and +5%"
ctl 0 mute 1
expect "$(field 1 3)" yes "muted after mute"
ctl 0 toggle-mute 1
expect "$(field 1 3)" no "muted after toggle-mute"
ctl 2 set-volume 999 40%
ctl 0 set-output 1 headphones
ctl 0 list --json
has '"outputUID": "bt"'
ctl 0 set-output 1 default
ctl 0 outputs --json
has '"transport": "bluetooth"'
ctl 0 master 25%
ctl 0 master
expect "$(cat "$work/out")" "Built-in Speakers (builtin): 25%, not muted" "master"
ctl 0 master mute
ctl 0 master --json
has '"muted": true'
ctl 0 default-output Monitor
ctl 0 master
has "(hdmi)"
ctl 0 toggle
ctl 0 show
ctl 0 forget com.example.game
ctl 0 list
grep -q "Game" "$work/out" && fail "forget left the app listed"
ctl 0 forget --all
ctl 0 list
expect "$(cat "$work/out")" "No app is playing." "the list after forget --all"

# A second launch hands over and exits at once; SIGTERM ends the first with 0 and frees the name.
timeout 20 "$brindell" --preview-engine >"$work/second.log" 2>&1 ||
    fail "second launch failed: $(cat "$work/second.log")"
kill -0 "$first" || fail "the first instance is gone"
kill -TERM "$first"
code=0
wait "$first" || code=$?
first=
expect "$code" 0 "brindell's exit after SIGTERM"
owned && fail "the name outlived its owner"
ctl 1 list
exit 0

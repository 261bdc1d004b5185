#!/bin/sh
# brindell ctl against a running `brindell --preview-engine` (sample apps) on a session bus of
# its own: listing, changes reflected in the list, exit 2 with one message and no change on bad
# input, exit 1 when no Brindell is running. Stops everything it started.
set -eu
brindell=$1
work=$2
rm -rf "$work"
mkdir -p "$work"

dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$work/bus"
DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$work/bus")
bus_pid=$(sed -n 2p "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
export QT_QPA_PLATFORM=offscreen
first=
watcher=
cleanup() {
    [ -z "$watcher" ] || kill "$watcher" 2>/dev/null || true
    [ -z "$first" ] || kill "$first" 2>/dev/null || true
    kill "$bus_pid" 2>/dev/null || true
}
trap cleanup EXIT

# ctl EXPECTED ARGS...: runs brindell ctl ARGS; its output in $work/out, messages in $work/err.
# A failure must say why in exactly one line.
ctl() {
    expected=$1
    shift
    set +e
    "$brindell" ctl "$@" >"$work/out" 2>"$work/err"
    code=$?
    set -e
    if [ "$code" -ne "$expected" ]; then
        echo "exit $code, not $expected, for: brindell ctl $*"
        cat "$work/out" "$work/err"
        exit 1
    fi
    if [ "$expected" -ne 0 ] && [ "$(wc -l <"$work/err")" -ne 1 ]; then
        echo "not one message for: brindell ctl $*"
        cat "$work/err"
        exit 1
    fi
    return 0
}
# The VOLUME column of pid $1 in brindell ctl list.
volume_of() {
    ctl 0 list
    awk -v pid="$1" '$1 == pid { print $2 }' "$work/out"
}
expect() {
    [ "$1" = "$2" ] || { echo "$3: '$1', not '$2'"; exit 1; }
}
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

# Nothing running yet: exit 1, and bad input is still exit 2 (it is never sent).
ctl 1 list
grep -q "Brindell is not running." "$work/err"
ctl 2 set-volume 1 loud
ctl 2 frobnicate
ctl 0 --help
grep -q "set-volume APP VOLUME" "$work/out"
# No session bus at all: also exit 1.
set +e
DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/brindell-bus "$brindell" ctl list \
    >/dev/null 2>"$work/err"
code=$?
set -e
expect "$code" 1 "exit without a session bus"

"$brindell" --preview-engine >"$work/brindell.log" 2>&1 &
first=$!
await owned || { echo "brindell never took its name"; cat "$work/brindell.log"; exit 1; }

ctl 0 list
head -n 1 "$work/out" | grep -q "^PID  VOLUME  MUTED  PLAYING  OUTPUT"
grep -q "Music" "$work/out"
grep -q "com.example.game" "$work/out"
expect "$(wc -l <"$work/out")" 5 "lines of the list"
ctl 0 list --json
grep -q '"appId": "com.example.music"' "$work/out"
grep -q '"volume": 0.8' "$work/out"
grep -q '"outputUID": null' "$work/out"
expect "$(head -c 1 "$work/out")" "[" "the JSON list opens with"
# Live levels: Music's sample peak through its 80 %; none for the app waiting for its device.
grep -q '"level": 0.4,' "$work/out"
grep -q '"level": null,' "$work/out"

# watch: the apps at once, then one line per change of them; a change of the master alone
# prints nothing.
"$brindell" ctl watch --json >"$work/watch" 2>"$work/watch.err" &
watcher=$!
watched() { [ "$(wc -l <"$work/watch")" -ge "$1" ]; }
await watched 1 || { echo "watch printed nothing"; cat "$work/watch.err"; exit 1; }
ctl 0 master 20%
ctl 0 set-volume 1 55%
await watched 2 || { echo "watch missed a volume change"; cat "$work/watch"; exit 1; }
sed -n 2p "$work/watch" | grep -q '"pid":1,[^}]*"volume":0.55'
ctl 0 mute 2
await watched 3 || { echo "watch missed a mute"; cat "$work/watch"; exit 1; }
sed -n 3p "$work/watch" | grep -q '"muted":true,[^}]*"pid":2,'
expect "$(wc -l <"$work/watch")" 3 "lines watched"
kill "$watcher"
wait "$watcher" 2>/dev/null || true
watcher=
ctl 0 unmute 2
set +e
timeout 2 "$brindell" ctl watch >"$work/watch"
set -e
grep -q "^Music (1): 55%; Video Call (2): 100%, on bt; " "$work/watch" ||
    { echo "watch's line: $(cat "$work/watch")"; exit 1; }
ctl 0 set-volume 1 0.8
ctl 0 master 60%

# Each volume form, by pid and by application id, reflected in the list.
ctl 0 set-volume 1 40%
expect "$(volume_of 1)" 40% "after set-volume 1 40%"
ctl 0 set-volume com.example.music 0.3
expect "$(volume_of 1)" 30% "after set-volume 0.3"
ctl 0 set-volume 1 +5%
expect "$(volume_of 1)" 35% "after +5%"
ctl 0 set-volume music -5%
expect "$(volume_of 1)" 30% "after -5%"

# Bad input: exit 2, one message, nothing changed.
ctl 0 list --json
cp "$work/out" "$work/before.json"
ctl 2 set-volume 1 150%
grep -q "out of range" "$work/err"
ctl 2 set-volume 1 40
ctl 2 set-volume 999 40%
grep -q "No app with pid 999 is in the mixer." "$work/err"
ctl 2 set-volume nobody 40%
ctl 2 set-output 1 nowhere
grep -q 'No output device "nowhere" is connected.' "$work/err"
ctl 2 mute
ctl 2 list --verbose
ctl 0 list --json
cmp -s "$work/out" "$work/before.json" || { echo "bad input changed the list"; exit 1; }

# Mute, output, master, default output, forget.
ctl 0 mute 1
ctl 0 list
expect "$(awk '$1 == 1 { print $3 }' "$work/out")" yes "muted after mute"
ctl 0 toggle-mute 1
ctl 0 list
expect "$(awk '$1 == 1 { print $3 }' "$work/out")" no "muted after toggle-mute"
ctl 0 set-output 1 headphones
ctl 0 list --json
grep -q '"outputUID": "bt"' "$work/out"
ctl 0 set-output 1 default
ctl 0 outputs
grep -q '^\*  builtin' "$work/out"
ctl 0 outputs --json
grep -q '"transport": "bluetooth"' "$work/out"
ctl 0 master 25%
ctl 0 master
expect "$(cat "$work/out")" "Built-in Speakers (builtin): 25%, not muted" "master"
ctl 0 master mute
ctl 0 master --json
grep -q '"muted": true' "$work/out"
ctl 2 master 2
ctl 0 default-output Monitor
ctl 0 master
grep -q "(hdmi)" "$work/out"
ctl 2 default-output nowhere
ctl 0 toggle
ctl 0 show
ctl 0 forget com.example.game
ctl 0 list
grep -q "Game" "$work/out" && { echo "forget left the app listed"; exit 1; }
ctl 0 forget --all
ctl 0 list
expect "$(cat "$work/out")" "No app is playing." "the list after forget --all"

# A second launch still hands over and exits at once.
timeout 20 "$brindell" --preview-engine >"$work/second.log" 2>&1 ||
    { echo "second launch failed"; cat "$work/second.log"; exit 1; }

kill -TERM "$first"
set +e
wait "$first"
code=$?
set -e
first=
expect "$code" 0 "brindell's exit after SIGTERM"
ctl 1 list
exit 0

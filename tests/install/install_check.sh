#!/bin/sh
# What a user and a distribution get from a build tree: a staged `cmake --install` (DESTDIR),
# checked with the desktop's own validators; the man page rendered with warnings as errors and
# covering every option and ctl command; bash completion; the session-bus service starting
# Brindell for `brindell ctl` from an install under another prefix; and the Debian package's
# contents and dependencies. Runs on a bus of its own and stops everything it starts.
set -eu
build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
fail() {
    echo "FAIL: $*"
    exit 1
}
app=com.quorvel.taskor.brindell
brindell=$build/brindell
version=$("$brindell" --version | sed 's/^brindell //')

cat >"$work/expected" <<LIST
/usr/bin/brindell
/usr/share/applications/$app.desktop
/usr/share/bash-completion/completions/brindell
/usr/share/dbus-1/services/$app.service
/usr/share/icons/hicolor/scalable/apps/$app.svg
/usr/share/icons/hicolor/symbolic/apps/$app-symbolic.svg
/usr/share/man/man1/brindell.1.gz
/usr/share/metainfo/$app.metainfo.xml
LIST

# 1. Staged install.
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install"; }
(cd "$stage" && find . ! -type d | sed 's/^\.//' | LC_ALL=C sort) >"$work/staged"
diff -u "$work/expected" "$work/staged" || fail "the staged files differ from the expected list"
grep -qx "Exec=/usr/bin/brindell" "$stage/usr/share/dbus-1/services/$app.service" ||
    fail "the bus service does not start /usr/bin/brindell"

# 2. Desktop entry and AppStream metadata: any remark is an error.
entry=$stage/usr/share/applications/$app.desktop
out=$(desktop-file-validate "$entry" 2>&1) || true
[ -z "$out" ] || fail "desktop-file-validate: $out"
sed -n '/^\[Desktop Action toggle\]/,/^\[/p' "$entry" >"$work/action"
grep -qx "Name=Toggle the mixer" "$work/action" || fail "no 'Toggle the mixer' action"
grep -qx "Exec=brindell ctl toggle" "$work/action" || fail "the action does not run brindell ctl toggle"
metainfo=$stage/usr/share/metainfo/$app.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log"; fail "appstreamcli validate"; }
grep -q "<release version=\"$version\"" "$metainfo" ||
    fail "the metainfo has no release $version (brindell --version)"

# 3. The man page renders without a warning and names every option and ctl command.
page=$stage/usr/share/man/man1/brindell.1.gz
export LC_ALL=C.UTF-8 # a locale every Debian system has, so man has nothing to say about it
gzip -dc "$page" | groff -man -ww -z -Tutf8 >"$work/groff.log" 2>&1
[ ! -s "$work/groff.log" ] || { cat "$work/groff.log"; fail "groff warnings"; }
MANWIDTH=80 man -l "$page" >/dev/null 2>"$work/man.log" || fail "man -l"
[ ! -s "$work/man.log" ] || { cat "$work/man.log"; fail "man -l warnings"; }
gzip -dc "$page" | groff -man -Tascii -P-cbou 2>/dev/null >"$work/man.txt"
for option in $("$brindell" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" "$work/man.txt" || fail "the man page lacks $option"
done
# Command lines only, without their descriptions: a description may hold ", word" too.
verbs=$("$brindell" ctl --help | sed -n '/^Commands:/,/^$/p' | grep '^  [a-z]' |
    sed 's/   .*//' | grep -o '^  [a-z][a-z-]*\|, [a-z][a-z-]*' | sed 's/^[ ,]*//' | sort -u)
[ -n "$verbs" ] || fail "no commands in brindell ctl --help"
sed -n '/^CONTROL COMMANDS/,/^EXIT STATUS/p' "$work/man.txt" >"$work/man-ctl.txt"
for verb in $verbs; do
    grep -q "^       $verb\b" "$work/man-ctl.txt" || fail "the man page lacks ctl $verb"
done

# 4. Bash completion offers every ctl command.
completions=$(bash -c '. "$1"; COMP_WORDS=(brindell ctl ""); COMP_CWORD=2; _brindell
    printf "%s\n" "${COMPREPLY[@]}"' sh "$stage/usr/share/bash-completion/completions/brindell")
for verb in $verbs; do
    echo "$completions" | grep -qx -- "$verb" || fail "bash completion lacks ctl $verb"
done

# 5. The bus starts Brindell for brindell ctl: an install under another prefix, a bus that
#    looks there, and no Brindell running.
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install-prefix.log" ||
    { cat "$work/install-prefix.log"; fail "cmake --install --prefix"; }
mkdir -p "$work/runtime" "$work/config/brindell" "$work/state"
chmod 700 "$work/runtime"
echo '{"completed":true,"version":1}' >"$work/config/brindell/onboarding.json"
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work/runtime</listen>
  <servicedir>$prefix/share/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
# The daemon hands its environment to what it starts: Brindell finds a PipeWire of its own.
export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
unset PIPEWIRE_REMOTE
env QT_QPA_PLATFORM=offscreen BRINDELL_PANEL_LOG="$work/panel.log" \
    dbus-daemon --config-file="$work/bus.conf" --fork --print-address=1 --print-pid=1 >"$work/bus"
DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$work/bus")
bus_pid=$(sed -n 2p "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
pipewire >"$work/pipewire.log" 2>&1 &
pipewire_pid=$!
# Whatever ran the installed program: the one the bus started, and any it started besides.
stop_started() {
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/exe" 2>/dev/null)" != "$prefix/bin/brindell" ] ||
            kill "${proc#/proc/}" 2>/dev/null || true
    done
}
cleanup() {
    stop_started
    kill "$pipewire_pid" 2>/dev/null || true
    kill "$bus_pid" 2>/dev/null || true
}
trap cleanup EXIT
tries=0
until [ -S "$work/runtime/pipewire-0" ]; do
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || { cat "$work/pipewire.log"; fail "pipewire did not start"; }
    sleep 0.1
done
ctl() {
    "$prefix/bin/brindell" ctl "$@" >"$work/ctl.out" 2>"$work/ctl.err" ||
        { cat "$work/ctl.err"; fail "brindell ctl $*"; }
}
ctl toggle
started=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetConnectionUnixProcessID string:$app | sed -n 's/.*uint32 //p')
[ -n "$started" ] || fail "no Brindell owns the name after brindell ctl toggle"
[ "$(readlink "/proc/$started/exe")" = "$prefix/bin/brindell" ] ||
    fail "the bus started $(readlink "/proc/$started/exe"), not the installed program"
# A normal launch: its panel answered the call and is open (no tray on this platform).
[ "$(cut -d: -f1 "$work/panel.log" 2>/dev/null)" = shown ] ||
    { cat "$work/panel.log"; fail "the panel is not open after brindell ctl toggle"; }
ctl list
grep -q "No app is playing" "$work/ctl.out" || fail "brindell ctl list: $(cat "$work/ctl.out")"
ctl settings
kill -TERM "$started"
tries=0
while kill -0 "$started" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || fail "the started Brindell did not end on SIGTERM"
    sleep 0.1
done
cleanup
trap - EXIT

# 6. The Debian package: the same files, its dependencies computed, installable here.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb=$(ls "$work"/package/brindell_*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's/^\.//' | LC_ALL=C sort >"$work/packaged"
diff -u "$work/expected" "$work/packaged" || fail "the package's files differ from the expected list"
[ "$(dpkg-deb -f "$deb" Package)" = brindell ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for need in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 libqt6svg6 \
    libpipewire-0.3-0 libcurl4 pipewire wireplumber; do
    echo "$depends" | grep -q "\b$need\b" || fail "Depends lacks $need"
done
for never in libasan libtsan libubsan libgtest libbenchmark; do
    echo "$depends" | grep -q "$never" && fail "Depends names $never"
done
apt-get install --simulate --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "the package does not install here"; }
grep -q "^Inst brindell " "$work/apt.log" || { cat "$work/apt.log"; fail "apt would not install it"; }
echo "install check passed"

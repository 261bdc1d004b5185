#!/bin/sh
# The snapshot modes write PNGs of the panel's size (drawn at twice the resolution), to a default
# file when no path is given, and fail clearly when they cannot write; the key diagnostic passes
# and logs every key.
set -eu
brindell=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
export TMPDIR="$out"

# "WIDTHxHEIGHT" of a PNG, from its header.
png_size() {
    head -c 8 "$1" | od -An -tx1 | tr -d ' \n' | grep -qx '89504e470d0a1a0a' || {
        echo "$1 is not a PNG"
        exit 1
    }
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d\n", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}

"$brindell" --mixer-snapshot "$out/mixer.png" >/dev/null
size=$(png_size "$out/mixer.png")
[ "${size%x*}" -eq 760 ] || { echo "mixer snapshot is $size, not 760 wide"; exit 1; }
canned=${size#*x}

# The preview content reaches the snapshot (the list's and banner's heights are MixerView's).
"$brindell" --mixer-snapshot "$out/denied.png" --preview-state denied --preview-rows 12 >/dev/null
denied=$(png_size "$out/denied.png")
[ "${denied#*x}" -gt "$canned" ] || { echo "the preview rows and banner added no height"; exit 1; }

"$brindell" --panel-snapshot --reduce-transparency --increase-contrast >/dev/null
png_size "$out/panel-snapshot.png" >/dev/null
"$brindell" --mixer-snapshot >/dev/null
png_size "$out/mixer-snapshot.png" >/dev/null

set +e
err=$("$brindell" --mixer-snapshot "$out/no/such/dir/x.png" 2>&1 >/dev/null)
code=$?
set -e
[ "$code" -eq 1 ] || { echo "exit $code for an unwritable path"; exit 1; }
echo "$err" | grep -q "cannot write the snapshot to $out/no/such/dir/x.png"

"$brindell" --keytest >/dev/null
grep -q '^keytest passed$' "$out/keytest.log"
grep -q '^Escape: panel closed$' "$out/keytest.log"
grep -q '^Alt+Right: used; target=row(1)' "$out/keytest.log"

# The settings window is 420 by 780 with every section; the welcome window 460 wide. Both in the
# dark look too, and to their default files.
"$brindell" --settings-snapshot "$out/settings.png" >/dev/null
[ "$(png_size "$out/settings.png")" = "840x1560" ] ||
    { echo "settings snapshot is $(png_size "$out/settings.png")"; exit 1; }
"$brindell" --settings-snapshot --dark >/dev/null
[ "$(png_size "$out/settings-snapshot.png")" = "840x1560" ]
cmp -s "$out/settings.png" "$out/settings-snapshot.png" && { echo "dark looks the same"; exit 1; }
"$brindell" --onboarding-snapshot "$out/onboarding.png" --dark >/dev/null
size=$(png_size "$out/onboarding.png")
[ "${size%x*}" -eq 920 ] || { echo "onboarding snapshot is $size, not 920 wide"; exit 1; }
[ "${size#*x}" -gt 800 ] || { echo "onboarding snapshot is only $size"; exit 1; }
"$brindell" --onboarding-snapshot >/dev/null
png_size "$out/onboarding-snapshot.png" >/dev/null

#!/bin/sh
# --crashtest crash ends by SIGSEGV and leaves a diagnostic; --crashtest then shows the report it
# makes, naming the brindell image, and keeps the diagnostic.
set -eu
brindell=$1
dir=$2
export XDG_STATE_HOME="$dir/crashtest-state" TMPDIR="$dir"
rm -rf "$XDG_STATE_HOME" "$dir/crashtest.log"
set +e
"$brindell" --crashtest crash 2>/dev/null
code=$?
set -e
[ "$code" -eq 139 ] || { echo "--crashtest crash exited $code, not by SIGSEGV"; exit 1; }
[ "$(ls "$XDG_STATE_HOME/brindell/crashes" | wc -l)" -eq 1 ] || { echo "no diagnostic"; exit 1; }
"$brindell" --crashtest >/dev/null
grep -q '"image": "brindell"' "$dir/crashtest.log"
grep -q '"exceptionType": "EXC_BAD_ACCESS"' "$dir/crashtest.log"
grep -q '^1 stored; nothing sent or deleted$' "$dir/crashtest.log"
[ "$(ls "$XDG_STATE_HOME/brindell/crashes" | wc -l)" -eq 1 ] || { echo "diagnostic gone"; exit 1; }
rm -rf "$XDG_STATE_HOME"

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

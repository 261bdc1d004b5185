#!/bin/sh
# --callbackbench prints its line, writes it to callbackbench.log in $TMPDIR and exits 0.
set -eu
brindell=$1
dir=$2
rm -f "$dir/callbackbench.log"
out=$("$brindell" --callbackbench)
echo "$out"
echo "$out" | grep -Eq '^callback 512 frames stereo, 200000 runs: mean [0-9]+\.[0-9]{2} us, worst [0-9]+\.[0-9] us \(budget 10667 us\)$'
head -n 1 "$dir/callbackbench.log" | grep -q '^callback 512 frames stereo, 200000 runs'

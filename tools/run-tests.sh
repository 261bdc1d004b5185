#!/bin/sh
# Builds and runs the whole test suite: every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded core under ThreadSanitizer, the unit tests once more
# in a Release build so no test leans on an assert (with the install and package check), and the
# fuzz targets for a bounded time.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
passed=0
failed=0

# run_suite PRESET [CTEST ARGS...]: builds the preset, runs its tests, adds up the counts.
run_suite() {
    preset=$1
    shift
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    status=0
    ctest --preset "$preset" -j "$jobs" "$@" >"$log" 2>&1 || status=1
    cat "$log"
    total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
    bad=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
    total=${total:-0}
    bad=${bad:-0}
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    [ "$status" -eq 0 ] || [ "$bad" -gt 0 ] || failed=$((failed + 1))
}

ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_suite asan
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_suite tsan
# The Release tree also stages an install and builds the Debian package from what it built.
run_suite release -L 'unit|install'
run_suite fuzz

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

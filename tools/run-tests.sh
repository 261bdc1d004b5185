#!/bin/sh
# Builds and runs the whole test suite: every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded core under ThreadSanitizer, the unit tests once more
# in a Release build so no test leans on an assert (with the install and package check), and the
# fuzz targets for a bounded time.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# A compiler cache that outlives the run: a later run on the same machine, from any clone,
# compiles only what changed.
if command -v ccache >/dev/null 2>&1; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR="$(pwd)" CCACHE_NOHASHDIR=1 CCACHE_SLOPPINESS=time_macros
fi
# Each fuzz target's run on an ordinary test run; longer campaigns set their own.
fuzz_seconds=${BRINDELL_FUZZ_SECONDS:-10}
build_target= # a target to build instead of everything
log=$(mktemp)
trap 'rm -f "$log"' EXIT
passed=0
failed=0

# run_suite PRESET [CTEST ARGS...]: builds the preset, runs its tests, adds up the counts.
run_suite() {
    preset=$1
    shift
    echo "== $preset"
    cmake --preset "$preset" -DBRINDELL_FUZZ_SECONDS="$fuzz_seconds" >/dev/null
    cmake --build --preset "$preset" -j "$jobs" ${build_target:+--target "$build_target"}
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
build_target=unit-and-install # only what it runs: no audio or ui tier, no benchmarks
run_suite release -L 'unit|install'
build_target=
run_suite fuzz

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

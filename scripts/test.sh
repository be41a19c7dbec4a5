#!/bin/sh
# Builds the kit and runs the whole test suite. With CI=true it also builds
# and runs the suite under the address and undefined-behaviour sanitizers.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup-debian.sh

JOBS="${JOBS:-$(nproc)}"

run_suite() {
    dir="$1"; shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIX_BUILD_TESTS=ON "$@"
    cmake --build "$dir" -j "$JOBS"
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
}

run_suite build
if [ "${CI:-false}" = true ] || [ "${ORVIX_SANITIZE:-0}" = 1 ]; then
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp"
    run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DORVIX_SANITIZE=ON -DORVIX_BUILD_DEMO=OFF
fi

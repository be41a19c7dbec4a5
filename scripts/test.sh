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
    # The tests' sanitizer options are set by the build (tests/CMakeLists.txt).
    run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DORVIX_SANITIZE=ON -DORVIX_BUILD_DEMO=OFF
fi

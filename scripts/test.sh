#!/bin/sh
# Builds the kit and runs the whole test suite. With CI=true it also installs
# the kit into a scratch prefix and builds and runs a separate host against
# it, then builds and runs the suite under the address and undefined-behaviour
# sanitizers.
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

# The installed package as a host uses it: install into a scratch prefix, then
# build and run a separate host project against it.
check_installed_package() {
    prefix="$(mktemp -d)"
    trap 'rm -rf "$prefix"' EXIT
    cmake --install build --prefix "$prefix/usr" >/dev/null
    cmake -S tests/install-host -B "$prefix/host" -G Ninja -DCMAKE_PREFIX_PATH="$prefix/usr" >/dev/null
    cmake --build "$prefix/host" -j "$JOBS"
    mkdir -m 700 "$prefix/runtime"
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$prefix/runtime" "$prefix/host/install-host"
}

if [ "${CI:-false}" = true ]; then
    check_installed_package
fi
if [ "${CI:-false}" = true ] || [ "${ORVIX_SANITIZE:-0}" = 1 ]; then
    # The tests' sanitizer options are set by the build (tests/CMakeLists.txt).
    run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DORVIX_SANITIZE=ON -DORVIX_BUILD_DEMO=OFF
fi

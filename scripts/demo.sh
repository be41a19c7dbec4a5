#!/bin/sh
# Builds the demo host and runs it against the embedded simulator.
# Arguments go to the demo (try --help).
set -eu
cd "$(dirname "$0")/.."
./scripts/setup-debian.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "${JOBS:-$(nproc)}" --target orvix-demo
exec ./build/examples/host/orvix-demo "$@"

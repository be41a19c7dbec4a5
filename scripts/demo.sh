#!/bin/sh
# Builds the demo host and runs it against the embedded simulator.
# Arguments go to the demo (try --help). Without a display it runs headless
# and plays the user's part itself (--autopilot).
set -eu
cd "$(dirname "$0")/.."
./scripts/setup-debian.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIX_BUILD_DEMO=ON >/dev/null
cmake --build build -j "${JOBS:-$(nproc)}" --target orvix-demo
# The web engine's sandbox cannot run as root.
if [ "$(id -u)" = 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
exec ./build/examples/host/orvix-demo "$@"

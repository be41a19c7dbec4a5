#!/bin/sh
# Builds the demo host and runs it against the embedded simulator.
# Arguments go to the demo (try --help). Without a display it runs headless
# and plays the user's part itself (--autopilot).
set -eu
cd "$(dirname "$0")/.."
./scripts/setup-debian.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIX_BUILD_DEMO=ON >/dev/null
cmake --build build -j "${JOBS:-$(nproc)}" --target orvix-demo

# A private runtime folder when the session has none (Qt would warn and use a shared one).
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR="$PWD/build/runtime-demo"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
fi
# The web engine's start-up report and Chromium's own error lines are for
# engine developers; set either variable to see them.
export QT_LOGGING_RULES="${QT_LOGGING_RULES:-qt.webenginecontext.info=false}"
if [ -z "${QTWEBENGINE_CHROMIUM_FLAGS:-}" ]; then
    QTWEBENGINE_CHROMIUM_FLAGS="--log-level=3"
    # Headless: nothing to draw on with a GPU.
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        QTWEBENGINE_CHROMIUM_FLAGS="$QTWEBENGINE_CHROMIUM_FLAGS --disable-gpu"
    fi
    export QTWEBENGINE_CHROMIUM_FLAGS
fi
# The web engine's sandbox cannot run as root.
if [ "$(id -u)" = 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
exec ./build/examples/host/orvix-demo "$@"

#!/bin/sh
# Installs the Debian 12 packages the build needs, and Xvfb with xauth for the
# README's xvfb-run line, when any is missing.
set -eu

PACKAGES="build-essential cmake ninja-build pkg-config git \
qt6-base-dev qt6-base-dev-tools qt6-httpserver-dev qt6-websockets-dev libarchive-dev libcurl4-openssl-dev zlib1g-dev libjpeg-dev openssl \
qt6-tools-dev qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin fonts-dejavu-core \
xvfb xauth"
if [ "${ORVIX_WITH_CLANG:-0}" = 1 ]; then
    PACKAGES="$PACKAGES clang libclang-rt-14-dev"
fi

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
SUDO=""
if [ "$(id -u)" != 0 ]; then
    SUDO="sudo"
fi
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing

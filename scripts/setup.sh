#!/bin/sh
# Installs everything needed to build, run and test final_inst on Debian 12.
# Safe to run again: apt-get skips what is already there.
set -eu
if [ "$(id -u)" -ne 0 ]; then
    echo "setup.sh: run as root (it installs Debian packages)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
PACKAGES="
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-base-private-dev qt6-tools-dev qt6-tools-dev-tools
    qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin qt6-declarative-dev
    libgl-dev libxkbcommon-dev
    libcurl4-openssl-dev libssl-dev zlib1g-dev
    firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-utils
    libgtest-dev libgmock-dev googletest
    xvfb xauth xdotool imagemagick x11-utils openbox
    dbus at-spi2-core python3-pyatspi
    fonts-wine fonts-dejavu-core
    curl unzip zip python3 ca-certificates e2fsprogs
    libarchive-tools p7zip-full
    g++-mingw-w64-x86-64-posix wine64 libz-mingw-w64-dev libgcrypt-mingw-w64-dev
"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    apt-get update -q
    apt-get install -y -q --no-install-recommends $missing
fi

#!/usr/bin/env bash
# Installs, if missing, the Debian 12 multiarch packages that cross-build the
# project for arm64 and run the results under user-mode emulation. They sit
# beside the native packages; the native Qt tools (moc, rcc, uic) serve both.
set -euo pipefail

. "$(dirname "$0")/apt-missing.sh"

# The foreign architecture must be known before the update that lists its packages.
before_install() {
    if ! dpkg --print-foreign-architectures | grep -qx arm64; then
        $sudo dpkg --add-architecture arm64
    fi
}

install_missing crossbuild-essential-arm64 qtbase5-dev:arm64 qtmultimedia5-dev:arm64 libsystemd-dev:arm64 \
    libpcap-dev:arm64 pkgconf:arm64 qemu-user

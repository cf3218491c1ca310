#!/usr/bin/env bash
# Installs, if missing, the Debian multiarch packages that cross-build the
# project for ARCH (arm64 or armhf) and run the results under user-mode
# emulation. They sit beside the native packages; the native Qt tools (moc,
# rcc, uic) serve every architecture. The cross test builds leave DLT out:
# its test needs a daemon of the board's architecture.
#   scripts/install-deps-cross.sh arm64|armhf
set -euo pipefail

arch=${1:?usage: install-deps-cross.sh arm64|armhf}
case $arch in
    arm64|armhf) ;;
    *) echo "install-deps-cross.sh: unknown architecture '$arch' (arm64 or armhf)" >&2; exit 2 ;;
esac

. "$(dirname "$0")/apt-missing.sh"

# The foreign architecture must be known before the update that lists its packages.
before_install() {
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        $sudo dpkg --add-architecture "$arch"
    fi
}

install_missing "crossbuild-essential-$arch" "qtbase5-dev:$arch" "qtmultimedia5-dev:$arch" \
    "libsystemd-dev:$arch" "libpcap-dev:$arch" "pkgconf:$arch" qemu-user

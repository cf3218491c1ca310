#!/usr/bin/env bash
# Installs, if missing, the Debian 12 multiarch packages that cross-build the
# project for arm64 and run the results under user-mode emulation. They sit
# beside the native packages; the native Qt tools (moc, rcc, uic) serve both.
set -euo pipefail

packages=(crossbuild-essential-arm64 qtbase5-dev:arm64 qtmultimedia5-dev:arm64 libsystemd-dev:arm64 libpcap-dev:arm64 pkgconf:arm64 qemu-user)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -ne 0 ] && sudo=sudo
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"

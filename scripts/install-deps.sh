#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests with, if missing.
set -euo pipefail

packages=(cmake g++ make binutils pkg-config qtbase5-dev qtmultimedia5-dev libbenchmark-dev libsystemd-dev systemd)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -ne 0 ] && sudo=sudo
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"

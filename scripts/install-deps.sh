#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests with, if missing.
set -euo pipefail

packages=(cmake g++ make binutils pkg-config qtbase5-dev qtmultimedia5-dev libbenchmark-dev libsystemd-dev systemd libpcap-dev tshark)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -ne 0 ] && sudo=sudo
echo "Installing: ${missing[*]}"
# tshark asks whether users other than root may capture: no, and without asking.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo debconf-set-selections
$sudo apt-get update
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"

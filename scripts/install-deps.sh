#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests with, if missing.
set -euo pipefail
. "$(dirname "$0")/apt-missing.sh"

# tshark asks whether users other than root may capture: no, and without asking.
before_install() {
    echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo debconf-set-selections
}

install_missing cmake g++ make binutils pkg-config qtbase5-dev qtmultimedia5-dev libbenchmark-dev \
    libsystemd-dev systemd libpcap-dev tshark pulseaudio pulseaudio-utils \
    libdlt-dev dlt-daemon dlt-tools iproute2

#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, if missing,
# for Debian 12 or 13 and the Qt major the build uses (scripts/qt-major.sh).
set -euo pipefail
. "$(dirname "$0")/apt-missing.sh"
. "$(dirname "$0")/qt-major.sh"

# tshark asks whether users other than root may capture: no, and without asking.
before_install() {
    echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo debconf-set-selections
}

if [ "$qt_major" = 5 ]; then
    qt=(qtbase5-dev qtmultimedia5-dev)
else
    qt=(qt6-base-dev qt6-multimedia-dev)
fi
install_missing cmake g++ make binutils pkg-config "${qt[@]}" libbenchmark-dev \
    libsystemd-dev systemd libpcap-dev tshark pulseaudio pulseaudio-utils \
    libdlt-dev dlt-daemon dlt-tools iproute2
# systemd's pkg-config file (its unit and sysusers directories) comes with
# systemd on Debian 12, with systemd-dev from Debian 13 on.
pkg-config --exists systemd || install_missing systemd-dev

#!/usr/bin/env bash
# The README's test command on a fresh Debian 13 root: mmdebstrap makes it
# from the mirror this machine uses, the checkout is bound into it read-only,
# and scripts/test.sh runs there as root, installing its own packages and
# building with Debian 13's Qt major, 6 (HEADUNIT_QT_MAJOR chooses another).
# Beside CI's Debian 12 machine, which builds with Qt 5, it covers the other
# Debian release and the other Qt major. Everything it mounts lives in a mount
# namespace of its own and goes with it; the root is removed on every exit.
# Needs root. BUILD_ROOT chooses the folder the root goes in (default
# /var/tmp). DEBIAN13_ROOT=DIR keeps the root (and its build tree, /build) in
# DIR for the next run, which reuses it.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
started=$SECONDS

if [ "$(id -u)" -ne 0 ]; then
    echo "test-debian13.sh: needs root (mmdebstrap, chroot, mounts)" >&2
    exit 2
fi
timeout 600 bash -c '. "$1"; install_missing mmdebstrap' _ "$top/scripts/apt-missing.sh" >/dev/null

work=$(mktemp -d "${BUILD_ROOT:-/var/tmp}/headunit-debian13.XXXXXX")
root=${DEBIAN13_ROOT:-$work/root}
cleanup() {
    # A killed mmdebstrap leaves proc, sys and dev mounted inside the root.
    # Nothing mounted is the usual case: grep's "no match" must not end the
    # script with a failure after the tests passed.
    { findmnt -rn -o TARGET | grep -e "^$work/" -e "^$root/" || true; } | sort -r | while read -r m; do umount -R -l "$m"; done
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ ! -x "$root/usr/bin/apt-get" ]; then
    # This machine's sources, moved to Debian 13's suites.
    sed 's/\bbookworm/trixie/g' /etc/apt/sources.list.d/debian.sources > "$work/debian.sources"
    echo "== Debian 13 root"
    if ! timeout 900 mmdebstrap --variant=apt trixie "$root" "$work/debian.sources" > "$work/mmdebstrap.log" 2>&1; then
        tail -n 20 "$work/mmdebstrap.log" >&2
        echo "test-debian13.sh: mmdebstrap could not make the root" >&2
        exit 1
    fi
    echo "   made in $((SECONDS - started)) s"
fi

mkdir -p "$root/src"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# Packages install their daemons (dlt-daemon, pulseaudio) without starting
# them, as in a container image: none may outlive the run.
printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
# The root bound onto itself is a mount point, as a machine's / is: tests
# that make mount namespaces of their own need that.
status=0
unshare -m --propagation private bash -c '
    set -e
    root=$1 top=$2
    mount --bind "$root" "$root"
    mount --bind "$top" "$root/src"
    mount -o remount,bind,ro "$root/src"
    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs tmpfs "$root/tmp"
    exec chroot "$root" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LANG=C.UTF-8 ${HEADUNIT_QT_MAJOR:+HEADUNIT_QT_MAJOR=$HEADUNIT_QT_MAJOR} \
        BUILD_DIR=/build timeout 3000 /src/scripts/test.sh
' _ "$root" "$top" || status=$?
echo "== Debian 13: scripts/test.sh exit $status after $((SECONDS - started)) s"
exit "$status"

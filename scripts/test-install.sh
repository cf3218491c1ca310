#!/usr/bin/env bash
# The road to the board, on this PC, after scripts/test.sh has built build/,
# with the Debian packages of scripts/build-deb.sh (made first when missing):
#  1. the packages unpacked into a scratch root, and the launcher built
#     against the SDK they make (libheadunitplatform-dev, HEADUNIT_PLATFORM=sdk),
#     once through its CMake package (whole tree, tests included) and once
#     through plain include and library directories (the launcher alone);
#     the demo scenario is played against the launcher of the package build;
#  2. the packaged programs: the launcher kept the symbols the platform's
#     libraries call, the service unit passes systemd-analyze verify, and the
#     installed launcher completes the demo scenario against the installed
#     mcu-sim in a network and mount namespace of its own (it uses the
#     production socket names; needs root).
# BUILD_DIR chooses the native build tree (default build/); DEB_DIR the
# packages (default BUILD_DIR/deb).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
debs_dir=${DEB_DIR:-$build/deb}
scratch=$build/board-road
root=$scratch/root
scenario=$top/tools/mcu-sim/scenarios/demo.scn
run_scenario=$top/tests/scenario/run_scenario.sh
rm -rf "$scratch"
mkdir -p "$scratch"

arch=$(dpkg-architecture -qDEB_HOST_ARCH)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
if ! ls "$debs_dir"/headunit-launcher_*_"$arch".deb >/dev/null 2>&1; then
    OUT_DIR=$debs_dir "$top/scripts/build-deb.sh" -Pnocheck
fi
echo "== Debian packages of $debs_dir, unpacked into $root"
for deb in "$debs_dir"/*_"$arch".deb; do
    case $deb in *-dbgsym_*) continue ;; esac
    dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\):/   \1:/p'
    dpkg-deb -x "$deb" "$root"
done
libdir=$root/usr/lib/$multiarch

echo "== launcher against the SDK's CMake package"
cmake -S "$top" -B "$scratch/build-sdk" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHEADUNIT_PLATFORM=sdk -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$scratch/build-sdk" -j"$(nproc)"
if ! ldd "$scratch/build-sdk/launcher/launcher" | grep -q "=> $libdir/libheadunitplatform.so"; then
    echo "the SDK build does not link the packaged platform" >&2
    exit 1
fi
(cd "$scratch/build-sdk" && QT_QPA_PLATFORM=offscreen ctest -j"$(nproc)" --output-on-failure --timeout 300)
"$run_scenario" "$scratch/build-sdk/tools/mcu-sim/mcu-sim" "$scratch/build-sdk/launcher/launcher_e2e" "$scenario"
echo "== demo scenario passed against the SDK build"

echo "== launcher against the SDK's include and library directories"
cmake -S "$top" -B "$scratch/build-sdk-dirs" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    -DHEADUNIT_PLATFORM=sdk -DHEADUNIT_SDK_INCLUDE_DIR="$root/usr/include/headunit-platform" \
    -DHEADUNIT_SDK_LIBRARY_DIR="$libdir" -DHEADUNIT_SDK_LIBRARIES=headunitplatform >/dev/null
cmake --build "$scratch/build-sdk-dirs" -j"$(nproc)" --target launcher

echo "== the packaged programs"
launcher=$root/usr/libexec/headunit/launcher
# The platform's libraries call into the launcher: its exports must survive packaging.
nm -D --defined-only "$launcher" | grep -q 'MainAppProtocolComm11GetInstance' \
    || { echo "the packaged launcher lost its exported symbols" >&2; exit 1; }

echo "== the service unit, as packaged"
unit=$(find "$scratch/root" -name headunit-launcher.service)
# verify wants the program to exist where the unit names it: point it into
# the unpacked package. It reports unknown keys only as warnings, so any
# output about our unit fails the check. It also reads the units this
# machine has installed (dlt-daemon's complains of its user): those lines
# are not ours to judge.
sed "s#^ExecStart=/#ExecStart=$root/#" "$unit" > "$scratch/headunit-launcher.service"
# Its Documentation= page is looked up among the packaged ones, where man is.
man_check=(--man=no)
command -v man >/dev/null && man_check=()
verify=$(MANPATH=$root/usr/share/man systemd-analyze verify "${man_check[@]}" "$scratch/headunit-launcher.service" 2>&1 \
    | grep -v -E '^/(usr/)?lib/systemd/system/' || true)
if [ -n "$verify" ]; then
    echo "$verify" >&2
    exit 1
fi
echo "   systemd-analyze verify: clean"

if [ "$(id -u)" -ne 0 ]; then
    echo "== skipping the installed launcher's run: it needs root for its own namespaces"
    exit 0
fi
echo "== installed launcher on the production names, in namespaces of its own"
# The packages carry no library search path: the system's directory is where
# their library goes.
LD_LIBRARY_PATH=$libdir unshare -n -m bash -c '
    set -e
    mount -t tmpfs tmpfs /tmp
    "$1" "$2/usr/bin/mcu-sim" "$2/usr/libexec/headunit/launcher" "$3" @silverwren
' _ "$run_scenario" "$root" "$scenario"
echo "== demo scenario passed against the installed package"

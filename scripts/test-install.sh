#!/usr/bin/env bash
# The road to the board, on this PC, after scripts/test.sh has built build/:
#  1. the host platform installed the way an SDK ships, and a second build of
#     the launcher against it (HEADUNIT_PLATFORM=sdk), once through its CMake
#     package (whole tree, tests included) and once through plain include and
#     library directories (the launcher alone); the demo scenario is played
#     against the launcher of the package build;
#  2. the Debian packages of build/ (launcher, mcu-sim, host platform): every
#     library their programs need comes with their Depends, they unpack into a
#     scratch root, the service unit passes systemd-analyze verify, and the
#     launcher completes the demo scenario in a network and mount namespace of
#     its own (it uses the production socket names; needs root).
# BUILD_DIR chooses the native build tree (default build/).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
scratch=$build/board-road
scenario=$top/tools/mcu-sim/scenarios/demo.scn
run_scenario=$top/tests/scenario/run_scenario.sh
# The SDK is built against build/'s Qt major, so its launchers are too.
qt_major=$(sed -n 's/^HEADUNIT_QT_MAJOR:STRING=//p' "$build/CMakeCache.txt")
rm -rf "$scratch"
mkdir -p "$scratch"

echo "== installing the host platform as an SDK into $scratch/sdk"
cmake --install "$build" --prefix "$scratch/sdk" --component platform >/dev/null

echo "== launcher against the SDK's CMake package"
cmake -S "$top" -B "$scratch/build-sdk" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEADUNIT_QT_MAJOR="$qt_major" \
    -DHEADUNIT_PLATFORM=sdk -DCMAKE_PREFIX_PATH="$scratch/sdk" >/dev/null
cmake --build "$scratch/build-sdk" -j"$(nproc)"
if ldd "$scratch/build-sdk/launcher/launcher" | grep -q "$build/platform/"; then
    echo "the SDK build links the host build tree's platform" >&2
    exit 1
fi
(cd "$scratch/build-sdk" && QT_QPA_PLATFORM=offscreen ctest -j"$(nproc)" --output-on-failure --timeout 300)
"$run_scenario" "$scratch/build-sdk/tools/mcu-sim/mcu-sim" "$scratch/build-sdk/launcher/launcher_e2e" "$scenario"
echo "== demo scenario passed against the SDK build"

echo "== launcher against the SDK's include and library directories"
libdir=$(dirname "$(find "$scratch/sdk" -name 'libheadunitplatform.so' | head -n1)")
cmake -S "$top" -B "$scratch/build-sdk-dirs" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DHEADUNIT_QT_MAJOR="$qt_major" \
    -DHEADUNIT_PLATFORM=sdk -DHEADUNIT_SDK_INCLUDE_DIR="$scratch/sdk/include/headunit-platform" \
    -DHEADUNIT_SDK_LIBRARY_DIR="$libdir" -DHEADUNIT_SDK_LIBRARIES=headunitplatform >/dev/null
cmake --build "$scratch/build-sdk-dirs" -j"$(nproc)" --target launcher

echo "== Debian packages"
(cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null)
debs=("$scratch"/package/headunit-*.deb)
for deb in "${debs[@]}"; do
    dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\):/   \1:/p'
    dpkg-deb -x "$deb" "$scratch/root"
done
"$top/scripts/check-deb-depends.sh" "${debs[@]}"
# The platform's libraries call into the launcher: its exports must survive packaging.
nm -D --defined-only "$scratch/root/usr/bin/launcher" | grep -q 'MainAppProtocolComm11GetInstance' \
    || { echo "the packaged launcher lost its exported symbols" >&2; exit 1; }

echo "== the service unit, as packaged"
unit=$(find "$scratch/root" -name headunit-launcher.service)
# verify wants the program to exist where the unit names it: point it into
# the unpacked package. It reports unknown keys only as warnings, so any
# output about our unit fails the check. It also reads the units this
# machine has installed (dlt-daemon's complains of its user): those lines
# are not ours to judge.
sed "s#^ExecStart=/usr/bin/#ExecStart=$scratch/root/usr/bin/#" "$unit" > "$scratch/headunit-launcher.service"
verify=$(systemd-analyze verify "$scratch/headunit-launcher.service" 2>&1 | grep -v -E '^/(usr/)?lib/systemd/system/' || true)
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
unshare -n -m bash -c '
    set -e
    mount -t tmpfs tmpfs /tmp
    "$1" "$2/usr/bin/mcu-sim" "$2/usr/bin/launcher" "$3" @silverwren
' _ "$run_scenario" "$scratch/root" "$scenario"
echo "== demo scenario passed against the installed package"

#!/usr/bin/env bash
# The test run for a board architecture, arm64 or armhf: installs what is
# missing, then
#  1. builds and installs the launcher the way a board SDK does: BUILD_TESTING=OFF
#     and a toolchain file without an emulator (cmake/<triplet>-sdk.cmake),
#     with every emulator for the architecture on PATH replaced by one that
#     fails, so that a build step running a program built for the board fails
#     the run;
#  2. cross-builds the whole project with cmake/<triplet>.cmake and runs every
#     test under user-mode emulation (qemu-aarch64, qemu-arm).
#   scripts/test-cross.sh arm64|armhf
# BUILD_DIR chooses the build tree (default: build-ARCH/ in the checkout); the
# board build goes beside it, into BUILD_DIR-board.
# Benchmarks are built but never run here: timings under emulation mean nothing.
set -euo pipefail

arch=${1:?usage: test-cross.sh arm64|armhf}
case $arch in
    arm64) triplet=aarch64-linux-gnu; emulator=qemu-aarch64; machine=AArch64 ;;
    armhf) triplet=arm-linux-gnueabihf; emulator=qemu-arm; machine=ARM ;;
    *) echo "test-cross.sh: unknown architecture '$arch' (arm64 or armhf)" >&2; exit 2 ;;
esac
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-$arch}

"$top/scripts/install-deps.sh"
"$top/scripts/install-deps-cross.sh" "$arch"

board=$build-board
rm -rf "$board"
mkdir -p "$board/no-emulator"
for name in "$emulator" "$emulator-static"; do
    printf '#!/bin/sh\necho "the board build ran a %s program: $*" >&2\nexit 1\n' "$arch" > "$board/no-emulator/$name"
    chmod +x "$board/no-emulator/$name"
done
echo "== $arch board build: BUILD_TESTING=OFF, no emulator"
PATH="$board/no-emulator:$PATH" cmake -S "$top" -B "$board/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DHEADUNIT_DLT=OFF -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$triplet-sdk.cmake" >/dev/null
PATH="$board/no-emulator:$PATH" cmake --build "$board/build" -j"$(nproc)"
cmake --install "$board/build" --prefix "$board/stage" >/dev/null
if grep -q '^CMAKE_CROSSCOMPILING_EMULATOR:' "$board/build/CMakeCache.txt"; then
    echo "the board build has an emulator" >&2
    exit 1
fi
for built in launcher_e2e libmcuendpoint_test.a headunit_beepgen; do
    if [ -e "$board/build/launcher/$built" ]; then
        echo "the board build built $built, which only tests need" >&2
        exit 1
    fi
done
readelf -h "$board/stage/libexec/headunit/launcher" | grep -q "Machine: *$machine\$" \
    || { echo "the installed launcher is not an $arch program" >&2; exit 1; }
echo "== $arch board build installed into $board/stage"

echo "== $arch test build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEADUNIT_DLT=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$triplet.cmake"
cmake --build "$build" -j"$(nproc)"
# The tests run in a PID namespace of their own: under user-mode emulation,
# Qt 5.15's QProcess may take a failed start for a child of pid -1 and then
# signal every process it can. Inside the namespace that is only the test run.
# Their scratch files go into the build tree, on the disk's own file system: 32-bit programs
# read directories there through 64-bit offsets, which tmpfs never needs.
isolate=(unshare --pid --fork --kill-child)
[ "$(id -u)" -ne 0 ] && isolate+=(--user --map-root-user)
mkdir -p "$build/tmp"
cd "$build"
TMPDIR="$build/tmp" QT_QPA_PLATFORM=offscreen "${isolate[@]}" ctest --output-on-failure --timeout 300

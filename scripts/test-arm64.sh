#!/usr/bin/env bash
# The arm64 test run: installs what is missing, then
#  1. builds and installs the launcher the way a board SDK does: BUILD_TESTING=OFF
#     and a toolchain file without an emulator (cmake/aarch64-linux-gnu-sdk.cmake),
#     with every qemu-aarch64 on PATH replaced by one that fails, so that a build
#     step running a program built for arm64 fails the run;
#  2. cross-builds the whole project with cmake/aarch64-linux-gnu.cmake and runs
#     every test under qemu-aarch64.
# BUILD_DIR chooses the build tree (default: build-arm64/ in the checkout); the
# board build goes beside it, into BUILD_DIR-board.
# Benchmarks are built but never run here: timings under emulation mean nothing.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-arm64}

"$top/scripts/install-deps.sh"
"$top/scripts/install-deps-arm64.sh"

board=$build-board
rm -rf "$board"
mkdir -p "$board/no-emulator"
for name in qemu-aarch64 qemu-aarch64-static; do
    printf '#!/bin/sh\necho "the board build ran an arm64 program: $*" >&2\nexit 1\n' > "$board/no-emulator/$name"
    chmod +x "$board/no-emulator/$name"
done
echo "== board build: BUILD_TESTING=OFF, no emulator"
PATH="$board/no-emulator:$PATH" cmake -S "$top" -B "$board/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DCMAKE_TOOLCHAIN_FILE="$top/cmake/aarch64-linux-gnu-sdk.cmake" >/dev/null
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
readelf -h "$board/stage/bin/launcher" | grep -q 'Machine:.*AArch64' \
    || { echo "the installed launcher is not an arm64 program" >&2; exit 1; }
echo "== board build installed into $board/stage"

echo "== arm64 test build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/aarch64-linux-gnu.cmake"
cmake --build "$build" -j"$(nproc)"
# The tests run in a PID namespace of their own: under qemu-aarch64, Qt 5.15's
# QProcess may take a failed start for a child of pid -1 and then signal every
# process it can. Inside the namespace that is only the test run.
isolate=(unshare --pid --fork --kill-child)
[ "$(id -u)" -ne 0 ] && isolate+=(--user --map-root-user)
cd "$build"
QT_QPA_PLATFORM=offscreen "${isolate[@]}" ctest --output-on-failure --timeout 300

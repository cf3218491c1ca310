#!/usr/bin/env bash
# The arm64 test run: installs what is missing, cross-builds the whole project
# with cmake/aarch64-linux-gnu.cmake and runs every test under qemu-aarch64.
# BUILD_DIR chooses the build tree (default: build-arm64/ in the checkout).
# Benchmarks are built but never run here: timings under emulation mean nothing.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-arm64}

"$top/scripts/install-deps.sh"
"$top/scripts/install-deps-arm64.sh"
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

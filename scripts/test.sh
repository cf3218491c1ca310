#!/usr/bin/env bash
# The test command: installs what is missing, configures, builds, runs every test
# (in parallel: each test uses socket names and files of its own).
# BUILD_DIR chooses the build tree (default: build/ in the checkout).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest -j"$(nproc)" --output-on-failure --timeout 300

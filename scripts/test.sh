#!/usr/bin/env bash
# The test command: installs what is missing, configures, builds, runs every test
# (in parallel: each test uses socket names and files of its own).
# BUILD_DIR chooses the build tree (default: build/ in the checkout),
# HEADUNIT_QT_MAJOR the Qt major (default: the Debian release's, see qt-major.sh).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
. "$top/scripts/qt-major.sh"

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEADUNIT_QT_MAJOR="$qt_major"
cmake --build "$build" -j"$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest -j"$(nproc)" --output-on-failure --timeout 300

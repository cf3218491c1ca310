#!/usr/bin/env bash
# The demo: the launcher against the MCU service simulator, on the demo scenario.
#
# It runs launcher_e2e, the launcher built on test socket names and the build
# tree's beep sounds, so that the demo never meets a real MCU service; everything
# else is the production program. Each run draws socket names of its own, so it
# may run next to the tests. The platform's journal shows what the launcher
# asked of the platform, the simulator shows every frame both ways.
#
#   scripts/demo.sh [scenario]       BUILD_DIR chooses the build tree (default build/),
#                                    HEADUNIT_QT_MAJOR the Qt major (see qt-major.sh)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
. "$top/scripts/qt-major.sh"
scenario=${1:-$top/tools/mcu-sim/scenarios/demo.scn}

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEADUNIT_QT_MAJOR="$qt_major" >/dev/null
cmake --build "$build" -j"$(nproc)" --target launcher_e2e mcu-sim headunit_sounds

name=demo-$$-$RANDOM
work=$(mktemp -d)
launcher_pid=
cleanup() {
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work" "/tmp/hu-$name.sock"
}
trap cleanup EXIT

# A unit that was set to Spanish, right-hand drive, loud beeps.
cat > "$work/settings.ini" <<'INI'
[setup]
sysLang=3
rightDrive=true
sysBeep=true
alterVolume=25
INI

echo "== launcher on @$name, settings $work/settings.ini"
"$build/tools/mcu-sim/mcu-sim" --name "@$name" --scenario "$scenario" &
sim_pid=$!

HEADUNIT_TEST_MCU_NAME=$name QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} HEADUNIT_SETTINGS="$work/settings.ini" \
    "$build/launcher/launcher_e2e" > >(sed -u 's/^/   [launcher] /') 2>&1 &
launcher_pid=$!

status=0
wait "$sim_pid" || status=$?
if [ "$status" -eq 0 ]; then
    echo "== demo scenario passed"
else
    echo "== demo scenario FAILED (simulator exit status $status)"
fi
exit "$status"

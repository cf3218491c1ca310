#!/usr/bin/env bash
# Plays a scenario file with the MCU simulator against the real launcher process
# (launcher_e2e, on this build tree's own socket names); passes when every
# expectation of the scenario is met. A cross build's programs start through
# the emulator CTest gives in HEADUNIT_TEST_EMULATOR (words separated by spaces).
#   run_scenario.sh <mcu-sim> <launcher_e2e> <service name> <scenario>
set -u
sim=$1 launcher=$2 name=$3 scenario=$4
emulator=${HEADUNIT_TEST_EMULATOR:-}

work=$(mktemp -d)
launcher_pid=
cleanup() {
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

$emulator "$sim" --name "$name" --scenario "$scenario" &
sim_pid=$!
QT_QPA_PLATFORM=offscreen HEADUNIT_SETTINGS="$work/settings.ini" XDG_STATE_HOME="$work/state" $emulator "$launcher" > "$work/launcher.log" 2>&1 &
launcher_pid=$!

wait "$sim_pid"
status=$?
if [ "$status" -ne 0 ]; then
    echo "--- launcher log"
    cat "$work/launcher.log"
fi
exit "$status"

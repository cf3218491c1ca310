#!/usr/bin/env bash
# Plays a scenario file with the MCU simulator against the real launcher process;
# passes when every expectation of the scenario is met. launcher_e2e runs on
# socket names of this run, given to it in HEADUNIT_TEST_MCU_NAME; a launcher
# built on fixed names (the production one) is played on the @NAME given. A
# cross build's programs start through the emulator CTest gives in
# HEADUNIT_TEST_EMULATOR (words separated by spaces).
#   run_scenario.sh <mcu-sim> <launcher> <scenario> [@NAME]
set -u
sim=$1 launcher=$2 scenario=$3
emulator=${HEADUNIT_TEST_EMULATOR:-}

own=scenario-$$-$RANDOM
service=${4:-@$own}
work=$(mktemp -d)
launcher_pid=
cleanup() {
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work" "/tmp/hu-$own.sock"
}
trap cleanup EXIT

$emulator "$sim" --name "$service" --scenario "$scenario" &
sim_pid=$!
HEADUNIT_TEST_MCU_NAME=$own QT_QPA_PLATFORM=offscreen HEADUNIT_SETTINGS="$work/settings.ini" XDG_STATE_HOME="$work/state" \
    $emulator "$launcher" > "$work/launcher.log" 2>&1 &
launcher_pid=$!

wait "$sim_pid"
status=$?
if [ "$status" -ne 0 ]; then
    echo "--- launcher log"
    cat "$work/launcher.log"
fi
exit "$status"

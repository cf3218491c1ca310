#!/usr/bin/env bash
# Captures of the MCU link played against the real launcher process
# (launcher_e2e, on this build tree's own socket names), each run with a fresh
# launcher and settings file of its own. A cross build's programs start through
# the emulator CTest gives in HEADUNIT_TEST_EMULATOR (words separated by spaces).
#   run_replay.sh record   <mcu-sim> <launcher_e2e> <service name> <capture> <scenario>
#       records the session of the scenario into the capture
#   run_replay.sh replay   <mcu-sim> <launcher_e2e> <service name> <capture>
#       passes when the replay finds nothing missing, extra or different
#   run_replay.sh scenario <mcu-sim> <launcher_e2e> <service name> <capture> <derived scenario>
#       writes the scenario derived from the capture, then passes when it passes
set -u
mode=$1 sim=$2 launcher=$3 name=$4 capture=$5
emulator=${HEADUNIT_TEST_EMULATOR:-}

work=$(mktemp -d)
launcher_pid=
cleanup() {
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

case $mode in
record)
    mkdir -p "$(dirname "$capture")"
    rm -f "$capture"
    sim_args=(--pcap "$capture" --scenario "$6")
    ;;
replay)
    sim_args=(--replay "$capture")
    ;;
scenario)
    if ! $emulator "$sim" --scenario-from "$capture" > "$6" 2> "$work/derive.err"; then
        echo "FAIL: no scenario derived from $capture"
        cat "$work/derive.err"
        exit 1
    fi
    sim_args=(--scenario "$6")
    ;;
*)
    echo "run_replay.sh: unknown mode \"$mode\""
    exit 2
    ;;
esac

$emulator "$sim" --name "$name" "${sim_args[@]}" > "$work/sim.log" 2>&1 &
sim_pid=$!
QT_QPA_PLATFORM=offscreen HEADUNIT_SETTINGS="$work/settings.ini" $emulator "$launcher" > "$work/launcher.log" 2>&1 &
launcher_pid=$!

wait "$sim_pid"
status=$?
cat "$work/sim.log"
if [ "$status" -ne 0 ]; then
    echo "FAIL: mcu-sim exit $status"
    echo "--- launcher log"
    cat "$work/launcher.log"
fi
exit "$status"

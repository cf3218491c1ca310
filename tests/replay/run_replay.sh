#!/usr/bin/env bash
# Captures of the MCU link played against the real launcher process, each run
# with a fresh launcher on socket names, settings and state directory of its
# own. Like run_scenario.sh, a run fails on an unexpected warning of the
# launcher's. A cross build's programs start through the emulator CTest gives
# in HEADUNIT_TEST_EMULATOR (words separated by spaces).
#   run_replay.sh record   <mcu-sim> <launcher_e2e> <capture> <scenario>
#       plays the scenario, then asks the launcher's flight recorder for a dump
#       (SIGUSR2) while the link is still up, and keeps that dump as the capture
#   run_replay.sh replay   <mcu-sim> <launcher_e2e> <capture>
#       passes when the replay finds nothing missing, extra or different
#   run_replay.sh scenario <mcu-sim> <launcher_e2e> <capture> <derived scenario>
#       writes the scenario derived from the capture, then plays it with run_scenario.sh
#   run_replay.sh flood    <mcu-sim> <launcher_e2e> <capture> <bench_capturegen> <count>
#       makes a capture of count version requests and replays it as fast as
#       possible: both ends then send while the other is sending
set -u
mode=$1 sim=$2 capture=$4

if [ "$mode" = scenario ]; then
    if ! ${HEADUNIT_TEST_EMULATOR:-} "$sim" --scenario-from "$capture" > "$5"; then
        echo "FAIL: no scenario derived from $capture"
        exit 1
    fi
    exec "$(dirname "$0")/../scenario/run_scenario.sh" "$sim" "$3" "$5"
fi
. "$(dirname "$0")/../common/launcherrun.sh" replay "$3"

# Waits up to 60 s for a line matching pattern in file, while the simulator runs.
await_line() {
    for _ in $(seq 600); do
        grep -q -E "$1" "$2" && return 0
        kill -0 "$sim_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

fail() {
    echo "FAIL: $1"
    echo "--- mcu-sim"
    cat "$work/sim.log"
    echo "--- launcher log"
    cat "$work/launcher.log"
    exit 1
}

if [ "$mode" = record ]; then
    # The simulator reads the scenario from a pipe that stays open, so that the
    # link is still up when the dump is asked for; "help" marks the end.
    mkfifo "$work/commands"
    $emulator "$sim" --name "@$own" --interactive < "$work/commands" > "$work/sim.log" 2>&1 &
    sim_pid=$!
    exec 3> "$work/commands"
    start_launcher
    { cat "$5"; echo; echo help; } >&3
    await_line '^Scenario commands' "$work/sim.log" || fail "the scenario did not run to its end"
    kill -USR2 "$launcher_pid"
    await_line 'records written to .*-request\.pcap' "$work/launcher.log" || fail "no dump on SIGUSR2"
    exec 3>&-
    wait "$sim_pid" || fail "the scenario failed"
    sim_pid=
    dump=$(sed -n 's/.*records written to \(.*-request\.pcap\).*/\1/p' "$work/launcher.log" | tail -n1)
    mkdir -p "$(dirname "$capture")"
    cp "$dump" "$capture" || fail "the dump $dump cannot be copied"
    stop_launcher
    warnings=$(launcher_warnings)
    [ -n "$warnings" ] && fail "unexpected warnings of the launcher: $warnings"
    echo "$capture: $(sed -n 's/.*flight recorder: \([0-9]*\) records written to .*-request.*/\1/p' "$work/launcher.log") records"
    exit 0
fi
replay_args=
if [ "$mode" = flood ]; then
    mkdir -p "$(dirname "$capture")"
    $emulator "$5" versions "$6" "$capture" || fail "no capture of $6 version requests"
    replay_args="--as-fast-as-possible --quiet"
    mode=replay
fi
if [ "$mode" != replay ]; then
    echo "run_replay.sh: unknown mode \"$mode\""
    exit 2
fi

$emulator "$sim" --name "@$own" --replay "$capture" $replay_args > "$work/sim.log" 2>&1 &
sim_pid=$!
start_launcher
wait "$sim_pid"
status=$?
sim_pid=
cat "$work/sim.log"
finish "$status"

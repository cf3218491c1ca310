#!/usr/bin/env bash
# Captures of the MCU link played against the real launcher process
# (launcher_e2e, on this build tree's own socket names), each run with a fresh
# launcher, settings file and state directory of its own. A cross build's
# programs start through the emulator CTest gives in HEADUNIT_TEST_EMULATOR
# (words separated by spaces).
#   run_replay.sh record   <mcu-sim> <launcher_e2e> <service name> <capture> <scenario>
#       plays the scenario, then asks the launcher's flight recorder for a dump
#       (SIGUSR2) while the link is still up, and keeps that dump as the capture
#   run_replay.sh replay   <mcu-sim> <launcher_e2e> <service name> <capture>
#       passes when the replay finds nothing missing, extra or different
#   run_replay.sh scenario <mcu-sim> <launcher_e2e> <service name> <capture> <derived scenario>
#       writes the scenario derived from the capture, then passes when it passes
set -u
mode=$1 sim=$2 launcher=$3 name=$4 capture=$5
emulator=${HEADUNIT_TEST_EMULATOR:-}

work=$(mktemp -d)
sim_pid=
launcher_pid=
cleanup() {
    exec 3>&-
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 60 s for a line matching pattern in file, while the simulator runs.
await_line() {
    for _ in $(seq 600); do
        grep -q -E "$1" "$2" && return 0
        kill -0 "$sim_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# Without the scenario's pipe, which only the simulator may hold open.
start_launcher() {
    QT_QPA_PLATFORM=offscreen HEADUNIT_SETTINGS="$work/settings.ini" XDG_STATE_HOME="$work/state" \
        $emulator "$launcher" > "$work/launcher.log" 2>&1 3>&- &
    launcher_pid=$!
}

fail() {
    echo "FAIL: $1"
    echo "--- mcu-sim"
    cat "$work/sim.log"
    echo "--- launcher log"
    cat "$work/launcher.log"
    exit 1
}

case $mode in
record)
    # The simulator reads the scenario from a pipe that stays open, so that the
    # link is still up when the dump is asked for; "help" marks the end.
    mkfifo "$work/commands"
    $emulator "$sim" --name "$name" --interactive < "$work/commands" > "$work/sim.log" 2>&1 &
    sim_pid=$!
    exec 3> "$work/commands"
    start_launcher
    { cat "$6"; echo; echo help; } >&3
    await_line '^Scenario commands' "$work/sim.log" || fail "the scenario did not run to its end"
    kill -USR2 "$launcher_pid"
    await_line 'records written to .*-request\.pcap' "$work/launcher.log" || fail "no dump on SIGUSR2"
    exec 3>&-
    wait "$sim_pid" || fail "the scenario failed"
    sim_pid=
    dump=$(sed -n 's/.*records written to \(.*-request\.pcap\).*/\1/p' "$work/launcher.log" | tail -n1)
    mkdir -p "$(dirname "$capture")"
    cp "$dump" "$capture" || fail "the dump $dump cannot be copied"
    echo "$capture: $(sed -n 's/.*flight recorder: \([0-9]*\) records written to .*-request.*/\1/p' "$work/launcher.log") records"
    exit 0
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
start_launcher
wait "$sim_pid"
status=$?
sim_pid=
cat "$work/sim.log"
if [ "$status" -ne 0 ]; then
    echo "FAIL: mcu-sim exit $status"
    echo "--- launcher log"
    cat "$work/launcher.log"
fi
exit "$status"

#!/usr/bin/env bash
# Plays a scenario file with the MCU simulator against the real launcher process;
# passes when every expectation of the scenario is met and the launcher printed
# no unexpected warning. launcher_e2e runs on socket names of this run, given to
# it in HEADUNIT_TEST_MCU_NAME; a launcher built on fixed names (the production
# one) is played on the @NAME given.
#   run_scenario.sh <mcu-sim> <launcher> <scenario> [@NAME]
set -u
sim=$1 scenario=$3
. "$(dirname "$0")/../common/launcherrun.sh" scenario "$2"
service=${4:-@$own}

$emulator "$sim" --name "$service" --scenario "$scenario" &
sim_pid=$!
start_launcher

wait "$sim_pid"
status=$?
sim_pid=
# The production launcher also misses the device's sounds on a PC.
extra=
[ $# -ge 4 ] && extra='QSoundEffect\([a-z]+\): Error decoding source file:///application/sound/'
finish "$status" "$extra"

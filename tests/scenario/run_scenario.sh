#!/usr/bin/env bash
# Plays a scenario file with the MCU simulator against the real launcher process;
# passes when every expectation of the scenario is met and the launcher printed
# no unexpected warning. launcher_e2e runs on socket names of this run, given to
# it in HEADUNIT_TEST_MCU_NAME; a launcher built on fixed names (the production
# one) is played on the @NAME given. A cross build's programs start through the
# emulator CTest gives in HEADUNIT_TEST_EMULATOR (words separated by spaces).
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
# Qt's own format, but with warnings marked, which it does not tell apart.
HEADUNIT_TEST_MCU_NAME=$own QT_QPA_PLATFORM=offscreen HEADUNIT_SETTINGS="$work/settings.ini" XDG_STATE_HOME="$work/state" \
    QT_MESSAGE_PATTERN='%{if-warning}[warning] %{endif}%{if-critical}[critical] %{endif}%{if-category}%{category}: %{endif}%{message}' \
    $emulator "$launcher" > "$work/launcher.log" 2>&1 &
launcher_pid=$!

wait "$sim_pid"
status=$?
# Stopped in order, so that warnings of the teardown show too.
kill "$launcher_pid" 2>/dev/null
wait "$launcher_pid" 2>/dev/null
launcher_pid=

# The noise of a machine without a sound server or runtime directory, as the
# Qt tests' TestMessages::isEnvironmentNoise lets it pass; the production
# launcher also misses the device's sounds on a PC.
noise='PulseAudioService: pa_context_connect\(\) failed|QStandardPaths: .*(XDG_RUNTIME_DIR|runtime directory)'
[ $# -ge 4 ] && noise="$noise|QSoundEffect\([a-z]+\): Error decoding source file:///application/sound/"
warnings=$(grep -E '^\[(warning|critical)\] ' "$work/launcher.log" | grep -vE "^\[warning\] ($noise)")
if [ -n "$warnings" ]; then
    echo "--- unexpected warnings of the launcher"
    echo "$warnings"
    [ "$status" -eq 0 ] && status=1
fi
if [ "$status" -ne 0 ]; then
    echo "--- launcher log"
    cat "$work/launcher.log"
fi
exit "$status"

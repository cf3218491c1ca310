# Sourced by the scripts that drive the launcher process:
#   . launcherrun.sh <tag> <launcher program>
# gives the run socket names ($own), a scratch folder ($work) and a clean-up on
# every way out, which stops by pid what the run started and still runs
# ($sim_pid, $launcher_pid: emptied once waited for). A cross build's programs
# start through the emulator CTest gives in HEADUNIT_TEST_EMULATOR (words
# separated by spaces). With WALL_CLOCK (seconds since the epoch) and
# FAKE_WALL_CLOCK (the fake wall clock library) in the environment, the
# programs of the run ($run_env before them) see their wall clock start there;
# the machine's clock is never touched.

own=$1-$$-$RANDOM
launcher=$2
emulator=${HEADUNIT_TEST_EMULATOR:-}
work=$(mktemp -d)
sim_pid=
launcher_pid=
run_env=()
if [ -n "${WALL_CLOCK:-}" ]; then
    run_env=(HEADUNIT_TEST_WALL_CLOCK="$WALL_CLOCK")
    # The emulator itself is a host program: only its guest gets the library.
    if [ -n "$emulator" ]; then
        run_env+=(QEMU_SET_ENV="LD_PRELOAD=$FAKE_WALL_CLOCK")
    else
        run_env+=(LD_PRELOAD="$FAKE_WALL_CLOCK")
    fi
fi
cleanup() {
    exec 3>&-
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work" "/tmp/hu-$own.sock"
}
trap cleanup EXIT

# The launcher on this run's names, settings and state, logging to
# $work/launcher.log in Qt's own format but with warnings marked, which it does
# not tell apart; without the descriptor 3 a script may hold open.
start_launcher() {
    env "${run_env[@]}" HEADUNIT_TEST_MCU_NAME=$own QT_QPA_PLATFORM=offscreen HEADUNIT_SETTINGS="$work/settings.ini" \
        XDG_STATE_HOME="$work/state" \
        QT_MESSAGE_PATTERN='%{if-warning}[warning] %{endif}%{if-critical}[critical] %{endif}%{if-category}%{category}: %{endif}%{message}' \
        $emulator "$launcher" > "$work/launcher.log" 2>&1 3>&- &
    launcher_pid=$!
}

# Stops the launcher in order, so that warnings of the teardown show too.
stop_launcher() {
    kill "$launcher_pid" 2>/dev/null
    wait "$launcher_pid" 2>/dev/null
    launcher_pid=
}

# The launcher's warnings but the environment's noise (environment-noise.txt)
# and, when given, those matching the extended regular expression $1.
launcher_warnings() {
    local noise
    noise=$(grep -v -e '^#' -e '^$' "$(dirname "${BASH_SOURCE[0]}")/environment-noise.txt" | paste -sd'|')
    [ -n "${1:-}" ] && noise="$noise|$1"
    grep -E '^\[(warning|critical)\] ' "$work/launcher.log" | grep -vE "^\[warning\] ($noise)"
}

# Ends the run with the simulator's status $1, made a failure by any
# unexpected warning of the launcher's ($2 as for launcher_warnings); a
# failed run shows the launcher's log.
finish() {
    local status=$1 warnings
    stop_launcher
    warnings=$(launcher_warnings "${2:-}")
    if [ -n "$warnings" ]; then
        echo "--- unexpected warnings of the launcher"
        echo "$warnings"
        [ "$status" -eq 0 ] && status=1
    fi
    if [ "$status" -ne 0 ]; then
        echo "FAIL: mcu-sim exit $1"
        echo "--- launcher log"
        cat "$work/launcher.log"
    fi
    exit "$status"
}

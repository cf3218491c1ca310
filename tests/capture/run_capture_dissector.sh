#!/usr/bin/env bash
# Records a scripted session against the launcher process, decodes the capture
# with tshark and the Lua dissector, and compares every record's decoded fields
# with the frames the session sent (session.expected). The capture is the
# simulator's (`mcu-sim --pcap`, recorder "sim") or the last dump of the
# launcher's flight recorder (recorder "launcher").
# The launcher runs on socket names of this run. A cross build's programs start
# through HEADUNIT_TEST_EMULATOR; tshark is the host's. With WALL_CLOCK the
# session runs at that date (see launcherrun.sh): stamps, the radio time's date
# and the dumps' names must follow it.
#   run_capture_dissector.sh <mcu-sim> <launcher_e2e> <dissector> <scenario> <expected> <recorder>
set -u
sim=$1 dissector=$3 scenario=$4 expected=$5 recorder=$6

fields=(frame.time_epoch mcu.dir mcu.event mcu.kind mcu.msg mcu.name mcu.cmd mcu.cmd_name mcu.p1 mcu.p2 mcu.len
        mcu.mcu_type mcu.tuner_type mcu.mcu_time mcu.mcu_version mcu.key_study.byte mcu.key_study.value
        mcu.rds.hour mcu.rds.minute mcu.uuid mcu.uuid.prefix mcu.uuid.number mcu.source.id mcu.source.arg
        mcu.key_color mcu.heartbeat_on mcu.clock mcu.version.customer mcu.version.sdk mcu.version.date
        mcu.data _ws.expert.message)

if ! command -v tshark > /dev/null; then
    echo "FAIL: tshark is not installed (scripts/install-deps.sh installs it)"
    exit 1
fi

. "$(dirname "$0")/../common/launcherrun.sh" capture "$2"

# A home of its own, so that no personal plugin or preference takes part.
# Its runtime folder too: without one, each sound client of the launcher
# leaves a /tmp/pulse-* folder behind for the home that goes.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# Wireshark 4.4 skips Lua scripts when run as root, and then decodes nothing
# without saying so: as root, tshark runs as nobody, in a folder of its own
# with copies of the dissector and the capture, and a home there.
shark=$work/tshark
mkdir -p "$shark/home"
cp "$dissector" "$shark/mcu.lua"
as_nobody=()
if [ "$(id -u)" -eq 0 ]; then
    chmod 711 "$work"
    chown -R 65534:65534 "$shark"
    as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
tshark() {
    "${as_nobody[@]}" env HOME="$shark/home" XDG_CONFIG_HOME="$shark/home/.config" tshark "$@"
}
lua=(-X "lua_script:$shark/mcu.lua")

# The protocol must be there, or tshark decodes nothing.
if ! tshark -G protocols "${lua[@]}" < /dev/null 2> "$work/tshark.err" | awk -F'\t' '$3 == "mcu" { found = 1 } END { exit !found }'; then
    echo "FAIL: the dissector did not load"
    cat "$work/tshark.err"
    exit 1
fi

sim_args=(--name "@$own" --scenario "$scenario")
[ "$recorder" = sim ] && sim_args+=(--pcap "$work/session.pcap")
clock_start=${WALL_CLOCK:-$(date +%s)}
env "${run_env[@]}" $emulator "$sim" "${sim_args[@]}" > "$work/sim.log" 2>&1 &
sim_pid=$!
start_launcher
wait "$sim_pid"
status=$?
sim_pid=
if [ "$status" -ne 0 ]; then
    echo "FAIL: the session did not pass (mcu-sim exit $status)"
    cat "$work/sim.log"
    echo "--- launcher log"
    cat "$work/launcher.log"
    exit 1
fi

if [ "$recorder" = launcher ]; then
    # The session ends with the simulator leaving: the launcher's dump of that
    # drop is its newest, written off its reader thread a moment later.
    dumps=$work/state/headunit
    for _ in $(seq 100); do
        newest=$(ls "$dumps" 2>/dev/null | grep -E '^mcu-[0-9]+-.*-link-down\.pcap$' | sort | tail -n1)
        [ "$(ls "$dumps" 2>/dev/null | grep -c -E '^mcu-.*\.pcap$')" -ge 3 ] && [ -n "$newest" ] && break
        sleep 0.1
    done
    if ! ls "$dumps" | grep -q -E '^mcu-[0-9]+-.*-malformed\.pcap$'; then
        echo "FAIL: no dump for the malformed frame in $dumps"
        ls -l "$dumps"
        exit 1
    fi
    cp "$dumps/$(ls "$dumps" | sort | tail -n1)" "$work/session.pcap"
    # Named by the date of the session's own clock.
    dated="-($(date -d "@$clock_start" +%Y%m%d)|$(date -d "@$((clock_start + 600))" +%Y%m%d))-"
    if ! [[ $newest =~ $dated ]]; then
        echo "FAIL: the dump $newest is not named by the session's date ($dated)"
        exit 1
    fi
fi

cp "$work/session.pcap" "$shark/session.pcap"
[ ${#as_nobody[@]} -gt 0 ] && chown 65534:65534 "$shark/session.pcap"
args=()
for f in "${fields[@]}"; do
    args+=(-e "$f")
done
if ! tshark "${lua[@]}" -r "$shark/session.pcap" -T fields -E header=y -E separator=/t "${args[@]}" \
        < /dev/null > "$work/fields.tsv" 2> "$work/tshark.err"; then
    echo "FAIL: tshark could not read the capture"
    cat "$work/tshark.err"
    exit 1
fi
# Every record stamped within the session, by the session's own clock.
late=$(awk -F'\t' -v from="$clock_start" 'NR > 1 && ($1 < from - 1 || $1 > from + 600) { print NR - 1 ": " $1 }' "$work/fields.tsv")
if [ -n "$late" ]; then
    echo "FAIL: records stamped outside the session, which began at $clock_start: $late"
    exit 1
fi
# One line a record: its non-empty fields but the stamp as name=value.
awk -F'\t' 'NR == 1 { for (i = 2; i <= NF; ++i) name[i] = $i; next }
            { line = ""; for (i = 2; i <= NF; ++i) if ($i != "") line = line (line == "" ? "" : " ") name[i] "=" $i; print line }' \
    "$work/fields.tsv" > "$work/decoded.txt"

# The launcher set the radio time on its today, local time: the session's, or
# the day before past midnight.
today=$(date -d "@$clock_start" +%F)
rds_clock="($(date -d "$today 07:05" +%s)|$(date -d "$today 07:05 yesterday" +%s))"
grep -v '^#' "$expected" | sed "s/RDS_CLOCK/$rds_clock/" > "$work/patterns.txt"

mapfile -t decoded < "$work/decoded.txt"
mapfile -t patterns < "$work/patterns.txt"
failed=0
for i in "${!patterns[@]}"; do
    line=${decoded[$i]-"(no record)"}
    if ! [[ $line =~ ^${patterns[$i]}$ ]]; then
        echo "record $((i + 1)): decoded:  $line"
        echo "record $((i + 1)): expected: ${patterns[$i]}"
        failed=1
    fi
done
if [ "${#decoded[@]}" -ne "${#patterns[@]}" ]; then
    echo "${#decoded[@]} records decoded, ${#patterns[@]} expected"
    failed=1
fi
if [ "$failed" -ne 0 ]; then
    echo "FAIL: the decoded capture differs from the session"
    echo "--- decoded"
    cat "$work/decoded.txt"
    echo "--- mcu-sim"
    cat "$work/sim.log"
    exit 1
fi
echo "${#decoded[@]} records decoded as sent"

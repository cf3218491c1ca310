#!/usr/bin/env bash
# The Debian packages (scripts/build-deb.sh) on a fresh Debian 12 root,
# installed by apt through their Depends and driven by a real systemd as PID 1
# in a systemd-nspawn container: what a board integrator gets from
# `apt install` and the unit as shipped. Each check
# prints one PASS or FAIL line; exit status 1 when any fails, 2 when it
# cannot run (not root, a tool missing). The container, its cgroups and its
# root are removed on every exit path.
# DEB_DIR chooses the packages (default BUILD_DIR/deb, BUILD_DIR default
# build/); they are made first when missing.
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
debs_dir=${DEB_DIR:-$build/deb}
started=$SECONDS

if [ "$(id -u)" -ne 0 ]; then
    echo "test-systemd.sh: needs root (debootstrap, container, cgroups)" >&2
    exit 2
fi
timeout 600 bash -c '. "$1"; install_missing systemd-container mmdebstrap' _ "$top/scripts/apt-missing.sh" >/dev/null \
    || { echo "test-systemd.sh: could not install systemd-container and mmdebstrap" >&2; exit 2; }
for tool in mmdebstrap systemd-nspawn nsenter timeout findmnt; do
    command -v "$tool" >/dev/null || { echo "test-systemd.sh: $tool is missing" >&2; exit 2; }
done
for cg in /sys/fs/cgroup/unified /sys/fs/cgroup/systemd; do
    [ -w "$cg" ] || { echo "test-systemd.sh: $cg is not a writable cgroup hierarchy" >&2; exit 2; }
done

work=$(mktemp -d /var/tmp/headunit-systemd.XXXXXX)
root=$work/root
name=headunit-test-$$
cgroups=(/sys/fs/cgroup/unified/"$name" /sys/fs/cgroup/systemd/"$name")
nspawn=
failures=0

cleanup() {
    local i
    if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
        [ -n "${init:-}" ] && timeout 10 nsenter -t "$init" -a -r -w systemctl poweroff >/dev/null 2>&1
        for i in $(seq 60); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.5; done
        kill -TERM "$nspawn" 2>/dev/null
        for i in $(seq 20); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.5; done
        kill -KILL "$nspawn" 2>/dev/null
        wait "$nspawn" 2>/dev/null
    fi
    # A killed mmdebstrap leaves proc, sys and dev mounted inside the root.
    findmnt -rn -o TARGET | grep "^$work/" | sort -r | while read -r m; do umount -R -l "$m"; done
    for cg in "${cgroups[@]}"; do
        [ -d "$cg" ] || continue
        for i in $(seq 20); do
            find "$cg" -depth -type d -exec rmdir {} + 2>/dev/null
            [ -d "$cg" ] || break
            sleep 0.5
        done
        [ -d "$cg" ] && echo "test-systemd.sh: could not remove cgroup $cg" >&2
    done
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Runs a command inside the container, bounded by $1 seconds.
inside() { local t=$1; shift; timeout "$t" nsenter -t "$init" -a -r -w "$@"; }
prop() { inside 10 systemctl show -p "$2" --value "$1"; }
main_pid() { prop headunit-launcher MainPID; }
dumps() { inside 10 ls -1 /var/log/headunit 2>/dev/null; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
# Waits up to $1 seconds for the launcher to be active under a MainPID other than $2.
wait_restarted() {
    local deadline=$((SECONDS + $1)) pid
    while [ $SECONDS -lt "$deadline" ]; do
        pid=$(main_pid)
        if [ "$(prop headunit-launcher ActiveState)" = active ] && [ "$pid" != 0 ] && [ "$pid" != "$2" ]; then
            return 0
        fi
        sleep 0.2
    done
    return 1
}

arch=$(dpkg-architecture -qDEB_HOST_ARCH)
if ! ls "$debs_dir"/headunit-launcher_*_"$arch".deb >/dev/null 2>&1; then
    OUT_DIR=$debs_dir "$top/scripts/build-deb.sh" -Pnocheck || { fail "no packages"; exit 1; }
fi
echo "== packages of $debs_dir"
# What a board takes: the launcher, its platform and the simulator; apt finds
# everything else through their Depends.
includes=()
for pkg in headunit-launcher libheadunitplatform0 headunit-mcu-sim; do
    includes+=(--include="$(ls "$debs_dir/${pkg}_"*"_$arch.deb")")
done

echo "== Debian 12 root with systemd and the packages (through their Depends only)"
if ! timeout 600 mmdebstrap --variant=minbase --include=systemd,systemd-sysv,dbus "${includes[@]}" \
        --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount \
        bookworm "$root" /etc/apt/sources.list.d/debian.sources >"$work/mmdebstrap.log" 2>&1; then
    tail -n 20 "$work/mmdebstrap.log" >&2
    fail "mmdebstrap could not make the root"
    exit 1
fi
echo "   made in $((SECONDS - started)) s"

# What a board integrator adds: the Qt platform plugin. The short start
# timeout is the test's: the launcher must not be killed while no MCU
# service is there.
mkdir -p "$root/etc/systemd/system/headunit-launcher.service.d"
printf '[Service]\nEnvironment=QT_QPA_PLATFORM=offscreen\n' \
    > "$root/etc/systemd/system/headunit-launcher.service.d/board.conf"
printf '[Service]\nTimeoutStartSec=3\n' \
    > "$root/etc/systemd/system/headunit-launcher.service.d/test-timeout.conf"
cp "$top/tools/mcu-sim/scenarios/demo.scn" "$root/root/demo.scn"

echo "== booting the container $name"
for cg in "${cgroups[@]}"; do mkdir "$cg"; done
(
    for cg in "${cgroups[@]}"; do echo "$BASHPID" > "$cg/cgroup.procs"; done
    exec systemd-nspawn -q -D "$root" -M "$name" --register=no --keep-unit -b --console=passive \
        --private-network --capability=CAP_SYS_TIME '--system-call-filter=~@clock'
) >"$work/nspawn.log" 2>&1 &
nspawn=$!
init=
# nspawn's child becomes the container's init only once it has exec'd systemd.
for i in $(seq 100); do
    init=$(pgrep -P "$nspawn" | head -n1)
    [ -n "$init" ] && [ "$(cat "/proc/$init/comm" 2>/dev/null)" = systemd ] && break
    init=
    sleep 0.1
done
[ -n "$init" ] || { fail "the container did not start"; cat "$work/nspawn.log" >&2; exit 1; }
# The manager's bus comes a moment after its process.
for i in $(seq 120); do
    state=$(inside 10 systemctl is-system-running 2>/dev/null)
    case $state in running|degraded) break ;; esac
    sleep 0.5
done
echo "   $state after $((SECONDS - started)) s"

# 0: installing neither enabled nor started the unit.
enabled=$(inside 10 systemctl is-enabled headunit-launcher 2>/dev/null)
active=$(prop headunit-launcher ActiveState)
if [ "$enabled" = disabled ] && [ "$active" = inactive ]; then
    pass "installed: unit $enabled and $active"
else
    fail "installed: unit $enabled and $active, not disabled and inactive"
fi

# 1, 2: started, ready without the MCU service, and left alone past the start timeout.
if inside 30 systemctl start headunit-launcher && [ "$(prop headunit-launcher ActiveState)" = active ]; then
    pid=$(main_pid)
    status=$(prop headunit-launcher StatusText)
    if [[ $status == *"waiting for the MCU service"* ]]; then
        pass "started, active, status \"$status\""
    else
        fail "started, but status \"$status\""
    fi
    sleep 5
    if [ "$(prop headunit-launcher ActiveState)" = active ] && [ "$(main_pid)" = "$pid" ] \
            && [ "$(prop headunit-launcher NRestarts)" = 0 ]; then
        pass "5 s past TimeoutStartSec=3 without the MCU service: still active, MainPID $pid"
    else
        fail "without the MCU service the launcher was killed or restarted"
    fi
else
    fail "systemctl start headunit-launcher: $(prop headunit-launcher ActiveState)"
    inside 10 journalctl -b -u headunit-launcher --no-pager | tail -n 20 >&2
    pid=0
fi

# 3: the MCU service comes, the launcher greets it and the demo plays.
if out=$(inside 120 systemd-run --unit=mcu-sim-demo --wait --quiet \
        /usr/bin/mcu-sim --name @silverwren --scenario /root/demo.scn --quiet 2>&1); then
    pass "mcu-sim as a unit of its own played the demo scenario"
else
    fail "mcu-sim demo: $out"
    inside 10 journalctl -b -u mcu-sim-demo --no-pager | tail -n 20 >&2
fi

# 4: who the main process is and what it may do.
st=$(inside 10 cat "/proc/$pid/status" 2>/dev/null)
uid=$(inside 10 id -u headunit)
field() { awk -v f="$1:" '$1 == f { print $2 }' <<<"$st"; }
caps="$(field CapEff) $(field CapBnd) $(field CapAmb)"
want=0000000002000000
if [ "$(field Uid)" = "$uid" ] && [ "$caps" = "$want $want $want" ] && [ "$(field NoNewPrivs)" = 1 ]; then
    pass "main process: uid $uid (headunit), CapEff/CapBnd/CapAmb cap_sys_time only, NoNewPrivs 1"
else
    fail "main process: uid $(field Uid) (headunit is $uid), caps $caps, NoNewPrivs $(field NoNewPrivs)"
fi

# 5: a dump on request, under the unit's logs directory, for the service user
# only. The link-down dump after the demo holds every record so far, and a
# dump without new records is not written again: a second MCU service
# connects and stays long enough for the request.
printf 'wait-connect 15000\nsleep 5000\n' > "$root/root/hold.scn"
inside 10 systemd-run --unit=mcu-sim-hold --quiet /usr/bin/mcu-sim --name @silverwren --scenario /root/hold.scn --quiet
for i in $(seq 100); do
    [[ $(prop headunit-launcher StatusText) == *"MCU link up"* ]] && break
    sleep 0.2
done
before=$(dumps)
inside 10 systemctl kill --kill-who=main --signal=SIGUSR2 headunit-launcher
new=
for i in $(seq 25); do
    new=$(comm -13 <(echo "$before") <(dumps) | grep request | head -n1)
    [ -n "$new" ] && break
    sleep 0.2
done
if [ -n "$new" ]; then
    read -r owner mode < <(inside 10 stat -c '%U %a' "/var/log/headunit/$new")
    if [ "$owner" = headunit ] && [ $((8#$mode & 7)) = 0 ]; then
        pass "SIGUSR2: /var/log/headunit/$new, owner $owner, mode $mode"
    else
        fail "SIGUSR2: /var/log/headunit/$new, owner $owner, mode $mode"
    fi
else
    fail "SIGUSR2: no dump in /var/log/headunit"
    inside 10 journalctl -b -u headunit-launcher --no-pager | tail -n 10 >&2
fi

# 6: an orderly stop is quick and leaves no dump.
for i in $(seq 75); do
    [ "$(prop mcu-sim-hold ActiveState)" = active ] || break
    sleep 0.2
done
sleep 1
before=$(dumps)
was=$(prop headunit-launcher ActiveState)
t=$(now)
if [ "$was" = active ] && inside 10 systemctl stop headunit-launcher; then
    took=$(since "$t")
    after=$(dumps)
    if awk -v s="$took" 'BEGIN { exit !(s <= 2) }' && [ "$before" = "$after" ] \
            && [ "$(prop headunit-launcher ActiveState)" = inactive ]; then
        pass "systemctl stop: status 0 in $took s, no dump"
    else
        fail "systemctl stop: $took s, dumps before: $before, after: $after"
    fi
else
    fail "systemctl stop of a launcher that was $was failed"
fi

# 7: the watchdog restarts a frozen launcher, Restart= a killed one.
# restarted_after SIGNAL LIMIT WAIT WHAT: the main process gets SIGNAL and a
# new one must be active within LIMIT seconds (given up after WAIT).
restarted_after() {
    local pid t took
    pid=$(main_pid)
    t=$(now)
    inside 10 systemctl kill --kill-who=main --signal="$1" headunit-launcher
    if ! wait_restarted "$3" "$pid"; then
        fail "$1: not restarted within $3 s"
        return
    fi
    took=$(since "$t")
    if awk -v s="$took" -v l="$2" 'BEGIN { exit !(s <= l) }'; then
        pass "$1: $4, active again with a new MainPID in $took s"
    else
        fail "$1: active again only after $took s"
    fi
}
inside 30 systemctl start headunit-launcher
restarted_after SIGSTOP 15 20 "watchdog restart"
restarted_after SIGKILL 3 10 "restarted"

# 8: a launcher that dies at every start is given up by the start limit.
inside 10 systemctl stop headunit-launcher
printf '[Service]\nExecStart=\nExecStart=/bin/false\n' \
    > "$root/etc/systemd/system/headunit-launcher.service.d/test-fail.conf"
inside 30 systemctl daemon-reload
inside 10 systemctl reset-failed headunit-launcher 2>/dev/null
t=$(now)
inside 30 systemctl start headunit-launcher >/dev/null 2>&1
# systemd 252 keeps the last try's result (exit-code) when its automatic
# restart hits the limit; only the journal names the limit.
limited() {
    [ "$(prop headunit-launcher ActiveState)" = failed ] && inside 10 journalctl -b -u headunit-launcher \
        --no-pager | grep -q -e 'Start request repeated too quickly' -e 'start-limit-hit'
}
result=
for i in $(seq 60); do
    limited && { result=limited; break; }
    sleep 0.5
done
if [ "$result" = limited ]; then
    pass "failing at every start: failed by the start limit after $(since "$t") s, $(prop headunit-launcher NRestarts) restarts"
else
    fail "failing at every start: $(prop headunit-launcher ActiveState) $(prop headunit-launcher Result)"
    inside 10 journalctl -b -u headunit-launcher --no-pager | tail -n 20 >&2
fi
rm "$root/etc/systemd/system/headunit-launcher.service.d/test-fail.conf"
inside 30 systemctl daemon-reload
inside 10 systemctl reset-failed headunit-launcher 2>/dev/null

# 9: the unit's exposure as systemd rates it.
exposure=$(inside 60 systemd-analyze security --offline=true headunit-launcher.service 2>&1 | grep -o 'Overall exposure.*[0-9]')
score=$(awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+\.[0-9]+$/) print $i }' <<<"$exposure")
if [ -n "$score" ] && awk -v s="$score" 'BEGIN { exit !(s <= 2.0) }'; then
    pass "$exposure"
else
    fail "exposure: ${exposure:-not rated}"
fi

echo "== $failures failed, $((SECONDS - started)) s in all"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# The performance table: installs what is missing, builds the benchmarks in
# Release (BENCH_BUILD_DIR, default build-release/ in the checkout), runs each
# next to its baseline, prints their own output, then one table with every
# figure beside its target, "pass" or "falls short". Exit status 1 when any
# figure falls short or a benchmark fails.
#
# On a machine that others share, BENCH_LOCK names a lock file held (flock)
# around the build and each benchmark, so that other jobs' builds wait rather
# than disturb the figures. BENCH_SOAK_SECONDS sets the soak's length (60),
# HEADUNIT_QT_MAJOR the Qt major (see qt-major.sh).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$top/build-release}
. "$top/scripts/qt-major.sh"
soak_seconds=${BENCH_SOAK_SECONDS:-60}

# Runs a command or a function of this script under the lock.
locked() {
    if [ -n "${BENCH_LOCK:-}" ]; then
        (flock 9 && "$@") 9>> "$BENCH_LOCK"
    else
        "$@"
    fi
}

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DHEADUNIT_QT_MAJOR="$qt_major" >/dev/null
locked cmake --build "$build" -j"$(nproc)" --target launcher_e2e bench_bare_start bench_startup \
    bench_mcu_inbound bench_mcu_reassembly bench_startup_checkpoints bench_mcu_soak bench_beep_latency \
    bench_mcu_dump_latency >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
table=$out/table
failed=0

# row NAME VALUE OP TARGET UNIT: one line of the table; OP is <= or >=.
row() {
    local verdict
    if [ -z "$2" ]; then
        verdict="no figure"
        failed=1
    elif awk -v v="$2" -v t="$4" -v op="$3" 'BEGIN { exit !((op == "<=") ? v <= t : v >= t) }'; then
        verdict=pass
    else
        verdict="falls short"
        failed=1
    fi
    printf '%-58s %10s %2s %-8s %s\n' "$1" "$2$5" "$3" "$4$5" "$verdict" >> "$table"
}

run() {
    local name=$1
    shift
    echo "== $name"
    if ! locked "$@" > "$out/$name" 2>&1; then
        cat "$out/$name"
        echo "$name failed" >&2
        failed=1
        return 0
    fi
    cat "$out/$name"
}

# Pulls the number after a fixed text out of a benchmark's output.
after() {
    sed -n "s/.*$2 \([-+0-9.]*\).*/\1/p" "$out/$1" | head -n1
}

run startup "$build/bench/bench_startup" "$build/launcher/launcher_e2e" "$build/bench/bench_bare_start" 20
row "start-up, launcher / bare program" "$(after startup 'ratio')" "<=" 1.05 ""
row "launcher's own work, application to ready frame" "$(after startup 'ready sent:')" "<=" 1.5 " ms"
row "resident memory, launcher / bare program" "$(sed -n 's/^resident memory.*ratio \([0-9.]*\).*/\1/p' "$out/startup")" "<=" 1.20 ""

# The target is the link next to the floor, a bare reader that also cuts the
# frames (the most any link that cuts frames can reach); the link next to the
# bare reader that only reads is printed beside it.
run inbound "$build/bench/bench_mcu_inbound"
for size in 16 268; do
    line=$(grep "^ *$size-byte frames" "$out/inbound" || true)
    floor=$(grep -A1 "^ *$size-byte frames" "$out/inbound" | sed -n 's/.*link to it \([0-9.]*\).*/\1/p')
    bare=$(sed -n 's/.*ratio \([0-9.]*\);.*/\1/p' <<< "$line")
    target=0.85
    [ $size = 268 ] && target=0.95
    row "MCU inbound, $size-byte frames: link / floor (link / bare ${bare:-?})" "$floor" ">=" $target ""
    row "MCU inbound, $size-byte frames: heap allocations per frame" \
        "$(sed -n 's/.*(\([0-9.]*\) per frame).*/\1/p' <<< "$line")" "<=" 0 ""
done

# Nanoseconds per frame, from the frames a second Google Benchmark reports.
run reassembly "$build/bench/bench_mcu_reassembly" --benchmark_format=csv --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true
ns_per_frame() {
    awk -F, -v name="\"$1/frame_bytes:$2_median\"" '
        $1 == "name" { for (i = 1; i <= NF; ++i) if ($i == "items_per_second") col = i }
        $1 == name && col { printf "%.1f", 1e9 / $col }' "$out/reassembly"
}
for size in 16 268; do
    bare=$(ns_per_frame BM_Reassembly $size)
    recorded=$(ns_per_frame BM_ReassemblyRecorded $size)
    cost=
    [ -n "$bare" ] && [ -n "$recorded" ] && cost=$(awk -v r="$recorded" -v b="$bare" 'BEGIN { printf "%.1f", r - b }')
    target=4
    [ $size = 268 ] && target=15
    row "flight recorder, $size-byte frames: cost over bare reassembly" "$cost" "<=" $target " ns"
done

run checkpoints "$build/bench/bench_startup_checkpoints"

# A dump is wanted most when something holds the reader: the slowest dump of
# each case, from the request to the file in place.
run dump "$build/bench/bench_mcu_dump_latency" "$build/launcher/launcher_e2e" 50
dump_max() {
    grep "$1" "$out/dump" | sed -n 's/.*max \([0-9.]*\) ms.*/\1/p'
}
for held in "in the sink" "in an observer"; do
    row "flight recorder dump, reader held $held: max" "$(dump_max "reader held $held")" "<=" 100 " ms"
done
row "flight recorder dump, launcher's stdout stalled: max" "$(dump_max "standard output stalled")" "<=" 100 " ms"

run beep "$build/bench/bench_beep_latency" "$build/launcher/launcher_e2e" 200 150
row "key to beep heard, p99" "$(after beep 'p99')" "<=" 10 " ms"
row "key presses without a beep" "$(sed -n 's/^no beep: \([0-9]*\) of.*/\1/p' "$out/beep")" "<=" 0 ""

# A head unit is busy when keys are pressed: the same with a busy loop on
# each of two cores beside it, started and stopped by pid.
busy_beep() {
    local pids=() status=0
    for _ in 1 2; do
        bash -c 'while :; do :; done' &
        pids+=($!)
    done
    "$@" || status=$?
    kill "${pids[@]}"
    wait "${pids[@]}" 2> /dev/null
    return $status
}
run beep-loaded busy_beep "$build/bench/bench_beep_latency" "$build/launcher/launcher_e2e" 200 150
row "key to beep heard beside two busy loops, p99" "$(after beep-loaded 'p99')" "<=" 30 " ms"
row "key presses without a beep beside two busy loops" \
    "$(sed -n 's/^no beep: \([0-9]*\) of.*/\1/p' "$out/beep-loaded")" "<=" 0 ""

run soak "$build/bench/bench_mcu_soak" --seconds "$soak_seconds" "$build/launcher/launcher_e2e"
soak=$(sed -n 's/^verdict: //p' "$out/soak")
verdict="falls short"
[ "$soak" = "levels off" ] && verdict=pass || failed=1
printf '%-58s %10s %2s %-8s %s\n' "resident memory under hostile frames, ${soak_seconds} s" "${soak:-none}" "" \
    "levels off" "$verdict" >> "$table"

echo
echo "== performance table ($(uname -m), $(nproc) cores, Release, Qt $qt_major)"
printf '%-58s %10s %2s %-8s %s\n' "figure" "measured" "" "target" "verdict"
cat "$table"
exit $failed

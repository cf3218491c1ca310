#!/usr/bin/env bash
# The launcher's end under a flood of MCU frames, built with AddressSanitizer
# and UndefinedBehaviorSanitizer, then with ThreadSanitizer: RUNS (default
# 200) runs each, every one ended by SIGTERM, each must exit 0 without a
# report. Only the launcher and the flood are built, in build-exit-asan/ and
# build-exit-tsan/ of BUILD_ROOT (default: the checkout). VARIANTS chooses
# (default: both). ThreadSanitizer cannot see the locks inside Qt, GLib and
# PulseAudio, which Debian builds without it: tests/tsan.supp leaves those
# libraries' own accesses alone and says why. Its build leaves DLT out, whose
# shutdown its runtime does not survive (see CMakeLists.txt). Each build also
# runs the MCU link's own tests, whose threads meet in the transport, the
# recorder and the dumper, and whose frames cross every buffer of the link.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
root=${BUILD_ROOT:-$top}
runs=${RUNS:-200}

"$top/scripts/install-deps.sh"
for variant in ${VARIANTS:-asan tsan}; do
    case $variant in
    asan) options=("-DHEADUNIT_SANITIZE=address;undefined") ;;
    tsan) options=(-DHEADUNIT_SANITIZE=thread -DHEADUNIT_DLT=OFF) ;;
    esac
    build=$root/build-exit-$variant
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
    cmake --build "$build" -j"$(nproc)" --target launcher_e2e exit_under_flood \
        tst_mcutransport stress_mcutransport tst_mcuflightrecorder tst_mcurecovery
    echo "== $variant: the link's tests"
    (cd "$build" && UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure --no-tests=error \
        -R '^(mcutransport|mcutransport_stress|mcuflightrecorder|mcurecovery)$')
    echo "== $variant"
    UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions=$top/tests/lsan.supp \
        TSAN_OPTIONS=suppressions=$top/tests/tsan.supp \
        "$build/tests/exit_under_flood" "$build/launcher/launcher_e2e" "$runs"
done

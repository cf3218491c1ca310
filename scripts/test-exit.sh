#!/usr/bin/env bash
# The launcher's end under a flood of MCU frames, built with AddressSanitizer
# and UndefinedBehaviorSanitizer, then with ThreadSanitizer: RUNS (default
# 200) runs each, every one ended by SIGTERM, each must exit 0 without a
# report. Only the launcher and the flood are built, in build-exit-asan/ and
# build-exit-tsan/ of BUILD_ROOT (default: the checkout). VARIANTS chooses;
# tsan is not in the default yet: it reports races on the host journal, whose
# QMutex (futex-based, inside an uninstrumented Qt) it cannot see.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
root=${BUILD_ROOT:-$top}
runs=${RUNS:-200}

"$top/scripts/install-deps.sh"
for variant in ${VARIANTS:-asan}; do
    case $variant in
    asan) sanitize="address;undefined" ;;
    tsan) sanitize=thread ;;
    esac
    build=$root/build-exit-$variant
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DHEADUNIT_SANITIZE=$sanitize" >/dev/null
    cmake --build "$build" -j"$(nproc)" --target launcher_e2e exit_under_flood
    echo "== $variant"
    UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions=$top/tests/lsan.supp \
        "$build/tests/exit_under_flood" "$build/launcher/launcher_e2e" "$runs"
done

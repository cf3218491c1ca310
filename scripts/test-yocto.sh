#!/usr/bin/env bash
# The board's build system, as far as this machine can take it (needs root):
#  1. run-ptest, the installed tests' runner of the Yocto ptest package: a
#     test build installed into a staging folder, its tests run by run-ptest
#     and by CTest, on this machine and (cross-built for arm64) under
#     qemu-aarch64; both must give every test the same result, a pass;
#  2. the layer yocto/meta-headunit under a real bitbake with the layers of
#     the scarthgap release, offline, as a user the script makes for itself:
#     the layers parse with no error or warning from ours, the launcher's
#     recipe plans its whole build (a dry run, nothing is built), and
#     bitbake -e shows the unit, the user, the packages' files and their
#     runtime dependencies as the recipe means them.
# YOCTO_LAYERS: folder of the layer archives (default ../shared/yocto beside
# the checkout, else /work/shared/yocto). YOCTO_SETS: which Qt sets bitbake checks, "qt5", "qt6" or
# "qt5 qt6" (default qt5; CI's time is short). YOCTO_STEPS: "ptest", "bitbake"
# or both (default). Everything goes into a scratch folder removed at the end,
# with the user.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
layers=${YOCTO_LAYERS:-$top/../shared/yocto}
[ -n "${YOCTO_LAYERS:-}" ] || [ -d "$layers" ] || layers=/work/shared/yocto
sets=${YOCTO_SETS:-qt5}
steps=${YOCTO_STEPS:-ptest bitbake}
user=headunit-yocto

if [ "$(id -u)" -ne 0 ]; then
    echo "test-yocto.sh needs root: it makes a user for bitbake, which refuses to run as root" >&2
    exit 1
fi

if [[ " $steps " == *" bitbake "* ]]; then
    for archive in bitbake openembedded-core meta-openembedded meta-qt5 meta-qt6; do
        [ -f "$layers/$archive.tar.xz" ] || { echo "no $archive.tar.xz in $layers (YOCTO_LAYERS)" >&2; exit 1; }
    done
fi

scratch=$(mktemp -d /tmp/headunit-yocto.XXXXXX)
chmod 755 "$scratch"
# bitbake's server ends shortly after the last bitbake command; the user
# goes once nothing of it runs.
cleanup() {
    if id "$user" >/dev/null 2>&1; then
        local tries=0
        while pgrep -u "$user" >/dev/null && [ $tries -lt 60 ]; do
            sleep 0.5
            tries=$((tries + 1))
        done
        userdel -r "$user" 2>/dev/null || echo "test-yocto.sh: could not remove the user $user" >&2
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# run-ptest on a staged install; CTest then runs the same tests of the same
# tree (the tests look for what they start in the staging folder) and each
# test must have the same result in both. $1: a name for the logs; then the
# CMake options of the build.
check_run_ptest() {
    local name=$1 build=$scratch/$1 stage=$scratch/$1-stage
    shift
    local ptest=$stage/usr/lib/headunit-launcher/ptest t0=$SECONDS
    echo "== run-ptest ($name): test build installed into $stage"
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$stage/usr" \
        -DHEADUNIT_TEST_INSTALL_DIR="$ptest" "$@" >/dev/null
    cmake --build "$build" -j"$(nproc)"
    cmake --install "$build" >/dev/null

    local isolate=()
    [ -n "${HEADUNIT_TEST_EMULATOR:-}" ] && isolate=(unshare --pid --fork --kill-child)
    "${isolate[@]}" "$ptest/run-ptest" > "$scratch/$name-ptest.log" 2>&1 || true
    grep -E '^(PASS|FAIL|SKIP): ' "$scratch/$name-ptest.log" | sort -k2 > "$scratch/$name-ptest.results"
    local listed ran
    listed=$(grep -c . "$ptest/tests.list")
    ran=$(grep -c . "$scratch/$name-ptest.results" || true)
    if [ "$ran" -ne "$listed" ]; then
        echo "run-ptest gave $ran results for $listed tests:" >&2
        tail -n 40 "$scratch/$name-ptest.log" >&2
        return 1
    fi

    local names
    names=$(cut -d' ' -f1 "$ptest/tests.list" | paste -sd'|')
    (cd "$build" && QT_QPA_PLATFORM=offscreen "${isolate[@]}" ctest -j"$(nproc)" -R "^($names)\$" --timeout 300 \
        > "$scratch/$name-ctest.log" 2>&1) || true
    # CTest's verdicts, as run-ptest writes them.
    sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) \.+[* ]*([A-Za-z]+).*/\2 \1/p' "$scratch/$name-ctest.log" \
        | sed -E 's/^Passed /PASS: /; s/^Skipped /SKIP: /; s/^[A-Za-z]+ /FAIL: /' | sort -k2 > "$scratch/$name-ctest.results"
    if ! diff -u "$scratch/$name-ctest.results" "$scratch/$name-ptest.results"; then
        echo "run-ptest and CTest disagree (- CTest, + run-ptest); logs:" >&2
        tail -n 60 "$scratch/$name-ptest.log" "$scratch/$name-ctest.log" >&2
        return 1
    fi
    local failed
    failed=$(grep -c '^FAIL' "$scratch/$name-ptest.results" || true)
    echo "run-ptest ($name): $((ran - failed)) passed, $failed failed, as in CTest ($((SECONDS - t0)) s with the build)"
    [ "$failed" -eq 0 ] || { tail -n 60 "$scratch/$name-ptest.log" >&2; return 1; }
}

if [[ " $steps " == *" ptest "* ]]; then
    "$top/scripts/install-deps.sh"
    check_run_ptest host
    "$top/scripts/install-deps-cross.sh" arm64
    HEADUNIT_TEST_EMULATOR=qemu-aarch64 check_run_ptest arm64 \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/aarch64-linux-gnu.cmake"
fi

[[ " $steps " == *" bitbake "* ]] || exit 0

. "$top/scripts/apt-missing.sh"
# What bitbake's sanity check asks of the host beyond a build machine's usual tools.
install_missing locales chrpath diffstat cpio gawk file wget zstd lz4 xz-utils git python3 rpcsvc-proto
if ! locale -a | grep -qix 'en_US.utf8'; then
    sed -i 's/^# *\(en_US.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi

# Left by a run that was killed.
if id "$user" >/dev/null 2>&1; then
    userdel -r "$user" 2>/dev/null
fi
useradd --create-home --shell /bin/bash "$user"

yocto=$scratch/yocto
mkdir -p "$yocto/layers"
for archive in bitbake openembedded-core meta-openembedded meta-qt5 meta-qt6; do
    tar -xJf "$layers/$archive.tar.xz" -C "$yocto/layers"
done
cp -r "$top/yocto/meta-headunit" "$yocto/layers/"
# The recipes fetch from a copy of this repository at its current commit,
# pinned: nothing is looked up at parse time.
git clone --quiet --bare "$top" "$yocto/headunit.git"
revision=$(git -C "$top" rev-parse HEAD)
chown -R "$user:" "$yocto"

# As the user, in the build folder of one set: bitbake with the layers' tools.
as_user() {
    local set=$1
    shift
    su "$user" -c "umask 022; cd '$yocto/build-$set' && export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 \
        BBPATH='$yocto/build-$set' PATH='$yocto/layers/bitbake/bin:$yocto/layers/openembedded-core/scripts:$PATH' && $*"
}

# A bitbake -e line VAR="value" must hold every word given.
expect_words() {
    local env=$1 var=$2 value word
    shift 2
    # A value may run over several lines, up to the closing quote.
    value=$(awk -v start="^(export )?${var}=\"" '
        !on && $0 ~ start { on = 1; sub(/^[^=]*="/, "") }
        on { all = all " " $0; if ($0 ~ /"$/) { sub(/"$/, "", all); print all; exit } }' "$env" | tr -s ' ')
    for word in "$@"; do
        if [[ " $value " != *" $word "* ]]; then
            echo "bitbake -e: $var is \"$value\", without $word" >&2
            return 1
        fi
    done
}

check_set() {
    local set=$1 l=$yocto/layers qt_layers
    case $set in
        qt5) qt_layers="$l/meta-qt5" ;;
        qt6) qt_layers="$l/meta-openembedded/meta-python $l/meta-qt6" ;;
        *) echo "unknown set $set: qt5 or qt6" >&2; return 1 ;;
    esac
    local build=$yocto/build-$set start=$SECONDS
    mkdir -p "$build/conf"
    cat > "$build/conf/bblayers.conf" <<EOF
BBLAYERS = "$l/openembedded-core/meta $l/meta-openembedded/meta-oe $qt_layers $l/meta-headunit"
EOF
    # A systemd image for a 64-bit ARM board, with ptest: the recipes' every
    # path is taken. The host platform stands in for the vendor's.
    cat > "$build/conf/local.conf" <<EOF
MACHINE = "qemuarm64"
DISTRO_FEATURES:append = " systemd usrmerge ptest"
INIT_MANAGER = "systemd"
BB_NUMBER_PARSE_THREADS = "$(nproc)"
BB_NUMBER_THREADS = "$(nproc)"
BB_NO_NETWORK = "1"
CONNECTIVITY_CHECK_URIS = ""
PREFERRED_PROVIDER_virtual/headunit-platform = "headunit-host-platform"
HEADUNIT_GIT = "git://$yocto/headunit.git;protocol=file;nobranch=1"
SRCREV:pn-headunit-launcher = "$revision"
SRCREV:pn-headunit-host-platform = "$revision"
EOF
    # What a production image gets: the distribution without ptest.
    echo 'DISTRO_FEATURES:remove = "ptest"' > "$build/conf/production.conf"
    chown -R "$user:" "$build"

    echo "== bitbake ($set): parse"
    local t0=$SECONDS
    as_user "$set" bitbake -p > "$scratch/$set-parse.log" 2>&1 \
        || { tail -n 40 "$scratch/$set-parse.log" >&2; return 1; }
    if grep -E '^(WARNING|ERROR):' "$scratch/$set-parse.log" | grep -i headunit; then
        echo "bitbake ($set): the layer parses with the warnings or errors above" >&2
        return 1
    fi
    grep -E '^(WARNING|ERROR):' "$scratch/$set-parse.log" || true
    echo "parsed in $((SECONDS - t0)) s: $(grep -oE 'Parsing of [0-9]+ \.bb files complete.*' "$scratch/$set-parse.log" | tail -n 1)"

    echo "== bitbake ($set): dry run of headunit-launcher"
    t0=$SECONDS
    as_user "$set" bitbake -n headunit-launcher > "$scratch/$set-dryrun.log" 2>&1 \
        || { tail -n 40 "$scratch/$set-dryrun.log" >&2; return 1; }
    if grep -q 'Parsing recipes' "$scratch/$set-dryrun.log"; then
        echo "bitbake ($set): the dry run parsed again instead of using the cache" >&2
        return 1
    fi
    echo "planned in $((SECONDS - t0)) s: $(grep -oE 'Tasks Summary: .*' "$scratch/$set-dryrun.log" | tail -n 1)"

    echo "== bitbake ($set): the recipe's variables"
    local env=$scratch/$set-launcher.env major=${set#qt}
    as_user "$set" bitbake -e headunit-launcher > "$env" 2>&1 || { tail -n 40 "$env" >&2; return 1; }
    local unitdir
    unitdir=$(grep -E '^(export )?systemd_system_unitdir=' "$env" | sed -E 's/^[^=]+="(.*)"$/\1/')
    [ "$unitdir" = /usr/lib/systemd/system ] || { echo "systemd_system_unitdir is '$unitdir'" >&2; return 1; }
    expect_words "$env" 'FILES:headunit-launcher' /usr/libexec/headunit/launcher \
        "$unitdir/headunit-launcher.service" /usr/lib/sysusers.d/headunit-launcher.conf
    expect_words "$env" 'SYSTEMD_SERVICE:headunit-launcher' headunit-launcher.service
    expect_words "$env" 'SYSTEMD_AUTO_ENABLE:headunit-launcher' disable
    expect_words "$env" 'PACKAGECONFIG_CONFARGS' -DHEADUNIT_SYSTEMD=ON "-DHEADUNIT_SYSTEMD_UNIT_DIR=$unitdir" \
        -DHEADUNIT_DLT=ON -DBUILD_TESTING=ON -DHEADUNIT_TEST_INSTALL_DIR=/usr/lib/headunit-launcher/ptest
    expect_words "$env" 'EXTRA_OECMAKE' -DHEADUNIT_PLATFORM=sdk "-DHEADUNIT_QT_MAJOR=$major"
    # The user: the useradd class is inherited (its tools in DEPENDS) and names it.
    expect_words "$env" 'DEPENDS' shadow-native base-passwd virtual/headunit-platform dlt-daemon systemd
    expect_words "$env" 'USERADD_PACKAGES' headunit-launcher
    expect_words "$env" 'USERADD_PARAM:headunit-launcher' --system --user-group headunit
    expect_words "$env" 'GROUPADD_PARAM:headunit-launcher' 'input;' render
    expect_words "$env" 'PACKAGES' headunit-mcu-sim headunit-launcher-ptest headunit-launcher headunit-launcher-doc
    expect_words "$env" 'FILES:headunit-mcu-sim' /usr/bin/mcu-sim /usr/lib/wireshark/plugins/mcu.lua
    expect_words "$env" 'FILES:headunit-launcher-ptest' /usr/lib/headunit-launcher/ptest
    expect_words "$env" 'RDEPENDS:headunit-launcher-ptest' headunit-launcher qtbase-plugins coreutils
    expect_words "$env" 'RRECOMMENDS:headunit-launcher' qtbase-plugins

    # The production defaults: the same recipe alone (-b parses only it)
    # with the distribution's ptest feature taken away.
    local recipe=$yocto/layers/meta-headunit/recipes-headunit/headunit/headunit-launcher_0.1.bb
    as_user "$set" bitbake -e -R conf/production.conf -b "$recipe" > "$scratch/$set-production.env" 2>&1 \
        || { tail -n 40 "$scratch/$set-production.env" >&2; return 1; }
    expect_words "$scratch/$set-production.env" 'PACKAGECONFIG_CONFARGS' -DHEADUNIT_SYSTEMD=ON -DHEADUNIT_DLT=ON -DBUILD_TESTING=OFF
    if grep -qE '^PACKAGES=.*headunit-launcher-ptest' "$scratch/$set-production.env"; then
        echo "bitbake -e: a production image's build has a ptest package" >&2
        return 1
    fi

    echo "== bitbake ($set): the host platform's stand-in"
    as_user "$set" bitbake -e headunit-host-platform > "$scratch/$set-platform.env" 2>&1 \
        || { tail -n 40 "$scratch/$set-platform.env" >&2; return 1; }
    expect_words "$scratch/$set-platform.env" 'PROVIDES' virtual/headunit-platform
    expect_words "$scratch/$set-platform.env" 'EXTRA_OECMAKE' -DHEADUNIT_PLATFORM=host "-DHEADUNIT_QT_MAJOR=$major"
    echo "bitbake ($set): unit, user, packages and dependencies as meant ($((SECONDS - start)) s)"
}

for set in $sets; do
    check_set "$set"
done

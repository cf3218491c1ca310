#!/usr/bin/env bash
# Builds the Debian packages from debian/ and checks them with lintian:
#   scripts/build-deb.sh [dpkg-buildpackage options]
# e.g. -Pnocheck (tests left out), -a arm64 -Pcross,nocheck (for the board).
# The sources are copied (tracked and new files, not ignored ones) so that the
# checkout stays clean; the packages, their .changes and lintian's report land
# in OUT_DIR (default BUILD_DIR/deb, BUILD_DIR/deb-ARCH for another
# architecture; BUILD_DIR default build/).
# Exit status 1 when the build fails or lintian reports any error or warning.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
arch=$(dpkg-architecture -qDEB_BUILD_ARCH)
profiles=
for ((i = 1; i <= $#; i++)); do
    j=$((i + 1))
    case ${!i} in
    -a) arch=${!j} ;;
    -a*) arch=${!i#-a} ;;
    --host-arch=*) arch=${!i#--host-arch=} ;;
    -P) profiles=${!j} ;;
    -P*) profiles=${!i#-P} ;;
    --build-profiles=*) profiles=${!i#--build-profiles=} ;;
    esac
done
if [ "$arch" = "$(dpkg-architecture -qDEB_BUILD_ARCH)" ]; then
    out=${OUT_DIR:-${BUILD_DIR:-$top/build}/deb}
else
    out=${OUT_DIR:-${BUILD_DIR:-$top/build}/deb-$arch}
fi

rm -rf "$out"
mkdir -p "$out/src"
(cd "$top" && git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
    [ -e "$f" ] && printf '%s\0' "$f"
done | tar --null -T - -cf -) | tar -C "$out/src" -xf -

. "$top/scripts/apt-missing.sh"
install_missing dpkg-dev lintian
# What debian/control asks for this architecture and these profiles, from apt.
if ! (cd "$out/src" && dpkg-checkbuilddeps -a "$arch" ${profiles:+-P "$profiles"}) 2>/dev/null; then
    sudo=
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 build-dep -y \
        --no-install-recommends -a "$arch" ${profiles:+-P "$profiles"} "$out/src"
fi

echo "== dpkg-buildpackage -b -us -uc $* ($arch)"
started=$SECONDS
(cd "$out/src" && dpkg-buildpackage -b -us -uc "$@") > "$out/build.log" 2>&1 || {
    tail -n 40 "$out/build.log" >&2
    echo "build-deb.sh: dpkg-buildpackage failed, see $out/build.log" >&2
    exit 1
}
echo "   built in $((SECONDS - started)) s:"
changes=$(ls "$out"/headunit_*_"$arch".changes)
for deb in "$out"/*.deb; do
    printf '   %s\n' "$(basename "$deb")"
done

echo "== lintian"
started=$SECONDS
if lintian --fail-on error,warning --display-level '>=warning' "$changes" > "$out/lintian.log" 2>&1; then
    echo "   0 errors, 0 warnings ($((SECONDS - started)) s)"
else
    cat "$out/lintian.log" >&2
    echo "build-deb.sh: lintian found errors or warnings" >&2
    exit 1
fi

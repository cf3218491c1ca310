#!/usr/bin/env bash
# Checks that Debian packages bring what their programs load:
#   scripts/check-deb-depends.sh PACKAGE.deb...
# Every NEEDED entry of every ELF file in a package must be a library of that
# package, or of a package named in its Depends or one of theirs (Depends and
# Pre-Depends, through every alternative). Libraries are found by their file
# name in the packages given together and in the machine's multiarch
# directories of the package's architecture (dpkg -S), so a cross build's
# packages are checked against that architecture's libraries. Prints one line
# per package; exits 1 when a library's package is missing from the Depends.
set -euo pipefail

[ $# -gt 0 ] || { echo "usage: $0 PACKAGE.deb..." >&2; exit 2; }
for tool in dpkg-deb dpkg-architecture readelf apt-cache; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every given package unpacked, and which of them ships which file name.
declare -A own_lib deb_of
for deb in "$@"; do
    name=$(dpkg-deb -f "$deb" Package)
    deb_of[$name]=$deb
    dpkg-deb -x "$deb" "$work/$name"
    while IFS= read -r -d '' f; do
        own_lib[$(basename "$f")]=$name
    done < <(find "$work/$name" \( -type f -o -type l \) -name '*.so*' -print0)
done

# Package names in a Depends-style field, without versions or architectures.
names_in() {
    tr ',|' '\n\n' <<<"$1" | sed 's/(.*)//; s/:.*//; s/[[:space:]]//g' | sed '/^$/d'
}

# All packages a package brings: ours through their control files, Debian's
# through apt's dependency closure of the package's architecture.
closure() {
    local arch=$1 pending=("$2") seen=() p debian=()
    declare -A done_
    while [ ${#pending[@]} -gt 0 ]; do
        p=${pending[0]}
        pending=("${pending[@]:1}")
        [ -n "${done_[$p]:-}" ] && continue
        done_[$p]=1
        seen+=("$p")
        if [ -n "${deb_of[$p]:-}" ]; then
            local fields
            fields="$(dpkg-deb -f "${deb_of[$p]}" Pre-Depends), $(dpkg-deb -f "${deb_of[$p]}" Depends)"
            mapfile -t -O ${#pending[@]} pending < <(names_in "$fields")
        else
            debian+=("$p:$arch")
        fi
    done
    printf '%s\n' "${seen[@]}"
    if [ ${#debian[@]} -gt 0 ]; then
        apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances "${debian[@]}" 2>/dev/null | sed -n 's/^\([^ <][^:]*\).*/\1/p'
    fi
}

status=0
for name in "${!deb_of[@]}"; do
    arch=$(dpkg-deb -f "${deb_of[$name]}" Architecture)
    triplet=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
    brought=$(closure "$arch" "$name" | sort -u)
    missing=()
    checked=0
    while IFS= read -r -d '' f; do
        head -c 4 "$f" | grep -q $'\x7fELF' || continue
        while IFS= read -r lib; do
            checked=$((checked + 1))
            if [ -n "${own_lib[$lib]:-}" ]; then
                owner=${own_lib[$lib]}
            else
                # The multiarch directories first; the loader itself also
                # lives under /lib64 or /lib on some architectures.
                lib_re=$(sed 's/[].+*[^$]/\\&/g' <<<"$lib")
                owner=$(dpkg -S "*/$lib" 2>/dev/null | grep -v '^diversion' \
                    | grep -E ": (/usr)?/lib(/$triplet|64)?/$lib_re\$" | head -n1 | sed 's/[:,].*//') || true
            fi
            if [ -z "$owner" ]; then
                missing+=("$lib (no package of $arch ships it)")
            elif ! grep -qxF "$owner" <<<"$brought"; then
                missing+=("$lib (from $owner)")
            fi
        done < <(readelf -d "$f" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    done < <(find "$work/$name" -type f -print0)
    if [ ${#missing[@]} -eq 0 ]; then
        echo "   $name: all $checked libraries its programs need come with its Depends"
    else
        echo "   $name: Depends do not bring ${missing[*]}" >&2
        status=1
    fi
done
exit $status

# Sourced by the dependency installers: install_missing PACKAGE... installs,
# after apt-get update, those of the Debian packages that are not installed
# yet, through sudo when not run as root. Nothing happens when all are there.
# A function named before_install, if defined, runs first (as $sudo).

install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    sudo=
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "Installing: ${missing[*]}"
    if declare -F before_install > /dev/null; then
        before_install
    fi
    $sudo apt-get update
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

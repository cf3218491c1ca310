# Sourced by the scripts that install for and configure a build: sets
# qt_major, the Qt major the tree is built with. HEADUNIT_QT_MAJOR in the
# environment (5 or 6) chooses; else the machine's Debian release does: Qt 5
# on Debian 12, whose Qt 6 (6.4) is there for trying, Qt 6 from Debian 13 on,
# where Qt 5 stays for old programs only.

qt_major=${HEADUNIT_QT_MAJOR:-}
if [ -z "$qt_major" ]; then
    qt_major=6
    case $(. /etc/os-release 2>/dev/null && echo "${ID:-}:${VERSION_ID:-}") in
        debian:1[0-2]) qt_major=5 ;;
    esac
fi
case $qt_major in
    5|6) ;;
    *) echo "HEADUNIT_QT_MAJOR must be 5 or 6, not '$qt_major'" >&2; exit 2 ;;
esac

SUMMARY = "Host implementation of the head unit's platform services"
DESCRIPTION = "Stands in for the board vendor's platform libraries: every call is \
journalled, settings come from an INI file. With the platform API's headers \
and the CMake package HeadunitPlatform that the launcher's recipe builds against."

require headunit.inc

PROVIDES = "virtual/headunit-platform"

EXTRA_OECMAKE += "-DHEADUNIT_PLATFORM=host -DBUILD_TESTING=OFF -DHEADUNIT_SYSTEMD=OFF -DHEADUNIT_DLT=OFF"

# Setting the clock: recorded only by default, as on a PC; a board that runs
# the stand-in and should keep time sets the real clock.
PACKAGECONFIG ??= ""
PACKAGECONFIG[board-clock] = "-DHEADUNIT_BOARD_CLOCK=ON,-DHEADUNIT_BOARD_CLOCK=OFF"

# The platform library and its development files, nothing of the launcher.
OECMAKE_TARGET_COMPILE = "headunitplatform"
do_install() {
    DESTDIR='${D}' cmake --install '${B}' --component platform
}

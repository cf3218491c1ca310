SUMMARY = "Main process of the in-car head unit"
DESCRIPTION = "Starts the head unit, keeps the link to the microcontroller (MCU) \
service and turns its frames into platform calls. The package headunit-mcu-sim \
holds the MCU service simulator and the Wireshark dissector of the link's \
captures, for desk and test images."

require headunit.inc

# The board's platform: the vendor's libraries, found by CMake through their
# package HeadunitPlatform (HeadunitPlatformConfig.cmake under ${libdir}/cmake
# of the recipe's sysroot), and at run time by the loader in ${libdir}. The
# vendor's recipe PROVIDES virtual/headunit-platform and the board's
# configuration chooses it:
#   PREFERRED_PROVIDER_virtual/headunit-platform = "<vendor recipe>"
# headunit-host-platform stands in for it where there is no vendor platform.
DEPENDS += "virtual/headunit-platform"
EXTRA_OECMAKE += "-DHEADUNIT_PLATFORM=sdk"

# A production image's build: the service under systemd where the distribution
# has it, DLT logging, no tests. A distribution with ptest builds the tests and
# installs them into the -ptest package.
PACKAGECONFIG ??= "dlt \
    ${@bb.utils.filter('DISTRO_FEATURES', 'systemd', d)} \
    ${@bb.utils.contains('PTEST_ENABLED', '1', 'tests', '', d)} \
"
PACKAGECONFIG[dlt] = "-DHEADUNIT_DLT=ON,-DHEADUNIT_DLT=OFF,dlt-daemon"
PACKAGECONFIG[systemd] = "-DHEADUNIT_SYSTEMD=ON \
    -DHEADUNIT_SYSTEMD_UNIT_DIR=${systemd_system_unitdir} \
    -DHEADUNIT_SYSUSERS_DIR=${nonarch_libdir}/sysusers.d,-DHEADUNIT_SYSTEMD=OFF,systemd"
PACKAGECONFIG[tests] = "-DBUILD_TESTING=ON -DHEADUNIT_TEST_INSTALL_DIR=${PTEST_PATH},-DBUILD_TESTING=OFF"

inherit systemd ptest
# The service's user exists only with its unit, as in the Debian package.
# Deferred, so that a .bbappend's PACKAGECONFIG counts too.
inherit_defer ${@bb.utils.contains('PACKAGECONFIG', 'systemd', 'useradd', '', d)}

PACKAGES =+ "headunit-mcu-sim"

FILES:${PN} = "${libexecdir}/headunit/launcher \
    ${systemd_system_unitdir}/headunit-launcher.service \
    ${nonarch_libdir}/sysusers.d/headunit-launcher.conf \
"
FILES:headunit-mcu-sim = "${bindir}/mcu-sim ${libdir}/wireshark/plugins/mcu.lua"
SUMMARY:headunit-mcu-sim = "MCU service simulator and capture dissector for the head-unit launcher"

# The unit is installed, not enabled: it cannot run before the board's drop-in
# names the Qt platform plugin (see the README). A board that has it sets
#   SYSTEMD_AUTO_ENABLE:headunit-launcher = "enable"
SYSTEMD_SERVICE:${PN} = "${@bb.utils.contains('PACKAGECONFIG', 'systemd', 'headunit-launcher.service', '', d)}"
SYSTEMD_AUTO_ENABLE:${PN} ?= "disable"

# The user made in the image rather than at first boot, so that a read-only
# root file system has it; the same user and groups as the package's
# sysusers.d file (input and render are udev's, missing without it).
USERADD_PACKAGES = "${PN}"
GROUPADD_PARAM:${PN} = "--system input; --system render"
USERADD_PARAM:${PN} = "--system --user-group --home-dir /nonexistent --no-create-home \
    --shell ${base_sbindir}/nologin --comment 'Head-unit launcher' headunit"

# A Qt program shows nothing without a platform plugin; which one is the
# board's choice (its drop-in), so it is recommended, not required.
RRECOMMENDS:${PN} += "qtbase-plugins"

# run-ptest runs the tests headless (Qt's offscreen plugin) under timeout.
RDEPENDS:${PN}-ptest += "qtbase-plugins coreutils"

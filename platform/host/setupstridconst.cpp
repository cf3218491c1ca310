#include <setupstridconst.h>

// Keys as they appear in the settings file: [setup] section, one entry each.
const QString SetupStrIdConst::setupRightDrive = QStringLiteral("setup/rightDrive");
const QString SetupStrIdConst::setupAndroidDevice = QStringLiteral("setup/androidDevice");
const QString SetupStrIdConst::setupAppleDevice = QStringLiteral("setup/appleDevice");
const QString SetupStrIdConst::setupCarlifeDevice = QStringLiteral("setup/carlife");
const QString SetupStrIdConst::setupWebLinkDevice = QStringLiteral("setup/weblink");
const QString SetupStrIdConst::setupCarplay = QStringLiteral("setup/carplay");
const QString SetupStrIdConst::setupIpod = QStringLiteral("setup/ipod");
const QString SetupStrIdConst::setupiOSMirror = QStringLiteral("setup/iosMirror");
const QString SetupStrIdConst::setupAndroidAuto = QStringLiteral("setup/androidAuto");
const QString SetupStrIdConst::setupAutoLink = QStringLiteral("setup/autoLink");
const QString SetupStrIdConst::setupSysLang = QStringLiteral("setup/sysLang");
const QString SetupStrIdConst::setupSyncRdsTime = QStringLiteral("setup/syncRdsTime");
const QString SetupStrIdConst::setupSysBeep = QStringLiteral("setup/sysBeep");
const QString SetupStrIdConst::setupAlterVolume = QStringLiteral("setup/alterVolume");

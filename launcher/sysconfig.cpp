#include "sysconfig.h"

#include "datadefault.h"
#include "datasavecontrol.h"
#include "setupstridconst.h"
#include "syslanguage.h"
#include "uimanager.h"
#include "usbcontrol.h"

#include <QDebug>
#include <QList>
#include <QTime>
#include <QVariant>

namespace {

// The factory default is asked right before each read and handed to the store
// in the setting's own type, so that an unsaved setting reads as that default.
QString readText(const QString &key)
{
    const QString defaultValue = DataDefault::getDefault(key).toString();
    return DataSaveControl::readSettingData(key, QVariant(defaultValue), QString()).toString();
}

bool readBool(const QString &key)
{
    const bool defaultValue = DataDefault::getDefault(key).toBool();
    return DataSaveControl::readSettingData(key, QVariant(defaultValue), QString()).toBool();
}

} // namespace

SysConfig::SysConfig()
{
    // The launcher's only initialisation of the store; every read comes after it.
    DataSaveControl::initQSettingPath();
    DataDefault::initDataDefault();
}

SysConfig::~SysConfig() = default;

void SysConfig::exeDisConfig()
{
    exeLanguage();
    exeLayout();
}

void SysConfig::exeLayout()
{
    // Left-hand drive unless saved otherwise: the factory table is not asked.
    const bool rightDrive = DataSaveControl::readSettingData(SetupStrIdConst::setupRightDrive,
                                                             QVariant(false), QString())
                                .toBool();
    qDebug() << "read right mode:" << rightDrive;
    tqappframework::UIManager::setRightDrive(rightDrive, true);
}

void SysConfig::exeLanguage()
{
    const QString savedIndex = readText(SetupStrIdConst::setupSysLang);

    // The system's own codes, not ISO ones; the position is the saved index.
    const QList<QString> codes = {
        QStringLiteral("de"), QStringLiteral("en"), QStringLiteral("fr"), QStringLiteral("es"),
        QStringLiteral("it"), QStringLiteral("nl"), QStringLiteral("cz"), QStringLiteral("fi"),
        QStringLiteral("dk"), QStringLiteral("no"), QStringLiteral("pl"), QStringLiteral("sl"),
        QStringLiteral("sw"),
    };

    // Text that is not a number reads as 0; anything outside the table falls
    // back to the first code, and the saved value is left as it is.
    const int index = savedIndex.toInt(nullptr, 10);
    const QString code = (index >= 0 && index < codes.size()) ? codes.at(index) : codes.first();

    qDebug() << "read language:" << code;
    SysLanguage::exeLanguage(code);
}

void SysConfig::exeUsbSetting()
{
    // The two time stamps bracket getInstance(), so the log shows how long
    // obtaining the USB service takes.
    qDebug() << QTime::currentTime();
    qDebug() << "SysConfig: exeUsbSetting";
    UsbControl *usb = UsbControl::getInstance();
    qDebug() << QTime::currentTime();

    const QString androidDevice = readText(SetupStrIdConst::setupAndroidDevice);
    const QString appleDevice = readText(SetupStrIdConst::setupAppleDevice);
    const bool carlife = readBool(SetupStrIdConst::setupCarlifeDevice);
    const bool webLink = readBool(SetupStrIdConst::setupWebLinkDevice);

    // A switched-on link technology applies to every phone and overrides the
    // per-platform choices; WebLink wins over CarLife.
    if (webLink) {
        exeAndroidDevice(SetupStrIdConst::setupWebLinkDevice);
        exeAppleDevice(SetupStrIdConst::setupWebLinkDevice);
    } else if (carlife) {
        exeAndroidDevice(SetupStrIdConst::setupCarlifeDevice);
        exeAppleDevice(SetupStrIdConst::setupCarlifeDevice);
    } else {
        if (!androidDevice.isEmpty())
            exeAndroidDevice(androidDevice);
        if (!appleDevice.isEmpty())
            exeAppleDevice(appleDevice);
    }

    // The modes only take effect here.
    usb->startup();
}

void SysConfig::exeAppleDevice(QString identifier)
{
    UsbControl *usb = UsbControl::getInstance();
    if (identifier == SetupStrIdConst::setupCarplay)
        usb->setAppleDeviceMode(UsbControl::AppleCarplay);
    else if (identifier == SetupStrIdConst::setupCarlifeDevice)
        usb->setAppleDeviceMode(UsbControl::AppleCarlife);
    else if (identifier == SetupStrIdConst::setupIpod)
        usb->setAppleDeviceMode(UsbControl::AppleIpod);
    else if (identifier == SetupStrIdConst::setupiOSMirror)
        usb->setAppleDeviceMode(UsbControl::AppleIosMirror);
    else if (identifier == SetupStrIdConst::setupWebLinkDevice)
        usb->setAppleDeviceMode(UsbControl::AppleWebLink);
}

void SysConfig::exeAndroidDevice(QString identifier)
{
    UsbControl *usb = UsbControl::getInstance();
    // The AOA time-out action is set exactly once in every case, also when the
    // identifier names no Android mode.
    bool aoaTimeout = true;
    if (identifier == SetupStrIdConst::setupAndroidAuto) {
        usb->setAndroidDeviceMode(UsbControl::AndroidAuto);
    } else if (identifier == SetupStrIdConst::setupAutoLink) {
        usb->setAndroidDeviceMode(UsbControl::AndroidAutoLink);
        aoaTimeout = false;
    } else if (identifier == SetupStrIdConst::setupCarlifeDevice) {
        usb->setAndroidDeviceMode(UsbControl::AndroidCarlife);
    } else if (identifier == SetupStrIdConst::setupWebLinkDevice) {
        usb->setAndroidDeviceMode(UsbControl::AndroidWebLink);
        aoaTimeout = false;
    }
    usb->configAoaTimeoutAction(aoaTimeout);
}

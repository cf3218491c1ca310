#include <usbcontrol.h>

#include "journal.h"

using HostJournal::arg;
using HostJournal::record;

UsbControl::UsbControl() = default;

UsbControl *UsbControl::getInstance()
{
    static UsbControl instance;
    record(QStringLiteral("UsbControl::getInstance()"));
    return &instance;
}

void UsbControl::setAppleDeviceMode(AppleDeviceMode mode)
{
    record(QStringLiteral("UsbControl::setAppleDeviceMode(%1)").arg(int(mode)));
}

void UsbControl::setAndroidDeviceMode(AndroidDeviceMode mode)
{
    record(QStringLiteral("UsbControl::setAndroidDeviceMode(%1)").arg(int(mode)));
}

void UsbControl::configAoaTimeoutAction(bool timeout)
{
    record(QStringLiteral("UsbControl::configAoaTimeoutAction(%1)").arg(arg(timeout)));
}

void UsbControl::startup()
{
    record(QStringLiteral("UsbControl::startup()"));
}

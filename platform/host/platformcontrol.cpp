#include <platformcontrol.h>

#include "hoststate_p.h"
#include "journal.h"

#include <mutex>

using HostJournal::arg;
using HostJournal::record;

PlatformControl::PlatformControl() = default;

PlatformControl *PlatformControl::getInstance()
{
    static PlatformControl instance;
    return hostState().platformControlAvailable ? &instance : nullptr;
}

QString PlatformControl::getCustomerVer()
{
    QString version;
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        version = hostState().customerVersion;
    }
    record(QStringLiteral("PlatformControl::getCustomerVer() = %1").arg(arg(version)));
    return version;
}

QString PlatformControl::getSDKVer()
{
    QString version;
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        version = hostState().sdkVersion;
    }
    record(QStringLiteral("PlatformControl::getSDKVer() = %1").arg(arg(version)));
    return version;
}

void PlatformControl::setMcuVersion(const QString &version)
{
    record(QStringLiteral("PlatformControl::setMcuVersion(%1)").arg(arg(version)));
}

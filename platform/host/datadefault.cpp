#include <datadefault.h>
#include <setupstridconst.h>

#include "journal.h"

#include <QHash>

#include <mutex>

using HostJournal::arg;
using HostJournal::record;

namespace {

struct Defaults {
    std::mutex mutex;
    QHash<QString, QVariant> table; // under mutex; filled by initDataDefault()
};

// Never destroyed: the MCU reader thread may read defaults while the process exits.
Defaults &defaults()
{
    static auto *instance = new Defaults;
    return *instance;
}

} // namespace

void DataDefault::initDataDefault()
{
    record(QStringLiteral("DataDefault::initDataDefault()"));
    const std::lock_guard<std::mutex> lock(defaults().mutex);
    // Factory state of a new unit: English, left-hand drive, beep on at a
    // middle volume, radio time trusted, phones on their native projection.
    defaults().table = {
        {SetupStrIdConst::setupRightDrive, false},
        {SetupStrIdConst::setupAndroidDevice, SetupStrIdConst::setupAndroidAuto},
        {SetupStrIdConst::setupAppleDevice, SetupStrIdConst::setupCarplay},
        {SetupStrIdConst::setupCarlifeDevice, false},
        {SetupStrIdConst::setupWebLinkDevice, false},
        {SetupStrIdConst::setupSysLang, QStringLiteral("1")},
        {SetupStrIdConst::setupSyncRdsTime, true},
        {SetupStrIdConst::setupSysBeep, true},
        {SetupStrIdConst::setupAlterVolume, 15},
    };
}

QVariant DataDefault::getDefault(QString key)
{
    QVariant value;
    {
        const std::lock_guard<std::mutex> lock(defaults().mutex);
        value = defaults().table.value(key);
    }
    record(QStringLiteral("DataDefault::getDefault(%1) = %2").arg(key, arg(value)));
    return value;
}

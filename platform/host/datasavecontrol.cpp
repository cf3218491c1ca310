#include <datasavecontrol.h>

#include "hostplatform.h"
#include "journal.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <mutex>

using HostJournal::arg;
using HostJournal::record;

namespace {

struct Store {
    std::mutex mutex;
    QString path; // under mutex
};

// Never destroyed: the MCU reader thread may read settings while the process exits.
Store &store()
{
    static auto *instance = new Store;
    return *instance;
}

QString chosenPath()
{
    const QString fromEnvironment = qEnvironmentVariable("HEADUNIT_SETTINGS");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/headunit/settings.ini");
}

} // namespace

void DataSaveControl::initQSettingPath()
{
    const QString path = chosenPath();
    {
        const std::lock_guard<std::mutex> lock(store().mutex);
        store().path = path;
    }
    record(QStringLiteral("DataSaveControl::initQSettingPath() = %1").arg(arg(path)));
}

QVariant DataSaveControl::readSettingData(const QString &key, const QVariant &defaultValue, const QString &group)
{
    QString path;
    {
        const std::lock_guard<std::mutex> lock(store().mutex);
        path = store().path;
    }
    QVariant result = defaultValue;
    QString origin = QStringLiteral("default");
    if (path.isEmpty()) {
        origin = QStringLiteral("default, store not initialised");
    } else if (QFileInfo(path).isFile()) {
        // Read-only use: QSettings writes back only what was set, and nothing is.
        QSettings settings(path, QSettings::IniFormat);
        const QString fullKey = group.isEmpty() ? key : group + QLatin1Char('/') + key;
        if (settings.status() != QSettings::NoError) {
            origin = QStringLiteral("default, unreadable store");
        } else if (settings.contains(fullKey)) {
            // Returned as saved, as the device's store does: text from the
            // file (a list where the line holds commas), a typed value when
            // this very process wrote it. The caller's QVariant conversion
            // decides what the text means.
            const QVariant saved = settings.value(fullKey);
            if (saved.isValid()) {
                result = saved;
                origin = QStringLiteral("saved");
            } else {
                origin = QStringLiteral("default, saved value unreadable");
            }
        }
    }
    record(QStringLiteral("DataSaveControl::readSettingData(%1, %2, %3) = %4 (%5)")
               .arg(key, arg(defaultValue), arg(group), arg(result), origin));
    return result;
}

namespace HostPlatform {

QString settingsPath()
{
    const std::lock_guard<std::mutex> lock(store().mutex);
    return store().path.isEmpty() ? chosenPath() : store().path;
}

} // namespace HostPlatform

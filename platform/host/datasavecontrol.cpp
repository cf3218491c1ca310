#include <datasavecontrol.h>

#include "hostplatform.h"
#include "journal.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QStandardPaths>

using HostJournal::arg;
using HostJournal::record;

namespace {

struct Store {
    QMutex mutex;
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

// INI files hold text only. A saved text that cannot be the default's type
// counts as nothing saved, so a hand-edited "volume=loud" gives the factory
// volume rather than 0.
bool fitsType(const QString &text, const QVariant &defaultValue)
{
    switch (defaultValue.userType()) {
    case QMetaType::Bool: {
        const QString t = text.trimmed().toLower();
        return t == QLatin1String("true") || t == QLatin1String("false") || t == QLatin1String("1") || t == QLatin1String("0");
    }
    case QMetaType::Int: {
        bool ok = false;
        text.trimmed().toInt(&ok);
        return ok;
    }
    default:
        return true;
    }
}

QVariant converted(const QString &text, const QVariant &defaultValue)
{
    switch (defaultValue.userType()) {
    case QMetaType::Bool: {
        const QString t = text.trimmed().toLower();
        return QVariant(t == QLatin1String("true") || t == QLatin1String("1"));
    }
    case QMetaType::Int:
        return QVariant(text.trimmed().toInt());
    default:
        return QVariant(text);
    }
}

} // namespace

void DataSaveControl::initQSettingPath()
{
    const QString path = chosenPath();
    {
        QMutexLocker lock(&store().mutex);
        store().path = path;
    }
    record(QStringLiteral("DataSaveControl::initQSettingPath() = %1").arg(arg(path)));
}

QVariant DataSaveControl::readSettingData(const QString &key, const QVariant &defaultValue, const QString &group)
{
    QString path;
    {
        QMutexLocker lock(&store().mutex);
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
            // Read back from the file, a value is text; written by this very
            // process it may still be typed in QSettings' cache.
            const QVariant saved = settings.value(fullKey);
            if (defaultValue.isValid() && saved.userType() == defaultValue.userType()) {
                result = saved;
                origin = QStringLiteral("saved");
            } else if (saved.userType() == QMetaType::QString && fitsType(saved.toString(), defaultValue)) {
                result = converted(saved.toString(), defaultValue);
                origin = QStringLiteral("saved");
            } else {
                origin = QStringLiteral("default, saved value unusable");
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
    QMutexLocker lock(&store().mutex);
    return store().path.isEmpty() ? chosenPath() : store().path;
}

} // namespace HostPlatform

#ifndef DATASAVECONTROL_H
#define DATASAVECONTROL_H

#include <QString>
#include <QVariant>

// The settings store, read only for the launcher. Thread-safe.
class DataSaveControl
{
public:
    static void initQSettingPath();
    // The saved value of key, or defaultValue when nothing usable is saved.
    static QVariant readSettingData(const QString &key, const QVariant &defaultValue,
                                    const QString &group);
};

#endif // DATASAVECONTROL_H

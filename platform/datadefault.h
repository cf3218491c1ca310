#ifndef DATADEFAULT_H
#define DATADEFAULT_H

#include <QString>
#include <QVariant>

// The factory defaults of the settings. Thread-safe.
class DataDefault
{
public:
    static void initDataDefault();
    static QVariant getDefault(QString key);
};

#endif // DATADEFAULT_H

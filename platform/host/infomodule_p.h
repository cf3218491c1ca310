#ifndef INFOMODULE_P_H
#define INFOMODULE_P_H

#include <QObject>

// The object behind the "info" module: it learns when all system services are up.
class InfoModule : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void allServiceReady();
};

#endif // INFOMODULE_P_H

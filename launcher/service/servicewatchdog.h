#ifndef SERVICEWATCHDOG_H
#define SERVICEWATCHDOG_H

#include <QObject>
#include <QTimer>

// Pings the service manager's watchdog (WATCHDOG=1) at half the interval it
// asks for, when it asks. Main thread only.
class ServiceWatchdog : public QObject
{
    Q_OBJECT

public:
    explicit ServiceWatchdog(QObject *parent = nullptr);

private Q_SLOTS:
    void ping();

private:
    QTimer m_timer; // main thread
};

#endif // SERVICEWATCHDOG_H

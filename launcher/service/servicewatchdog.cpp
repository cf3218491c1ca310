#include "servicewatchdog.h"

#include <servicenotify.h>

#include <algorithm>

// The pings come from the main thread's event loop on purpose: that loop runs
// the UI, the start sequence and the beep, and it is what must be alive. If a
// slot hangs or the thread deadlocks, the timer stops with it, the pings stop,
// and the manager restarts the launcher. A ping from the MCU reader or a thread
// of its own would go on while the head unit's screen stays frozen.
ServiceWatchdog::ServiceWatchdog(QObject *parent)
    : QObject(parent)
{
    const uint64_t intervalUs = ServiceNotify::watchdogPingIntervalUs();
    if (intervalUs == 0)
        return;
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(int(std::max<uint64_t>(1, intervalUs / 1000)));
    connect(&m_timer, SIGNAL(timeout()), this, SLOT(ping()));
    m_timer.start();
    ping();
}

void ServiceWatchdog::ping()
{
    ServiceNotify::send("WATCHDOG=1");
}

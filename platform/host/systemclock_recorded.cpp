#include <systemclock.h>

#include "hoststate_p.h"
#include "journal.h"

#include <QDateTime>

#include <mutex>

// The host never moves the machine's clock (tests run as root on shared
// machines); it records what the launcher asked for.
int SystemClock::setSystemTime(time_t seconds)
{
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        hostState().lastSystemTime = seconds;
    }
    const QString local = QDateTime::fromSecsSinceEpoch(seconds).toString(Qt::ISODate);
    HostJournal::record(QStringLiteral("SystemClock::setSystemTime(%1) %2 local, recorded only").arg(qint64(seconds)).arg(local));
    return 0;
}

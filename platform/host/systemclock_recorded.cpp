#include <systemclock.h>

#include "hoststate_p.h"
#include "journal.h"

#include <ctime>
#include <mutex>

// The host never moves the machine's clock (tests run as root on shared
// machines); it records what the launcher asked for.
int SystemClock::setSystemTime(time_t seconds)
{
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        hostState().lastSystemTime = seconds;
    }
    // The C library's local time, in 64 bits: Qt's may keep 32-bit time.
    char local[32] = "?";
    struct tm tm;
    if (localtime_r(&seconds, &tm))
        std::strftime(local, sizeof local, "%Y-%m-%dT%H:%M:%S", &tm);
    HostJournal::record(QStringLiteral("SystemClock::setSystemTime(%1) %2 local, recorded only").arg(qint64(seconds)).arg(QLatin1String(local)));
    return 0;
}

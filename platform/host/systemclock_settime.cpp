#include <systemclock.h>

#include "hoststate_p.h"
#include "journal.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <time.h>

// Board build: the launcher really owns the wall clock.
int SystemClock::setSystemTime(time_t seconds)
{
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        hostState().lastSystemTime = seconds;
    }
    timespec ts{};
    ts.tv_sec = seconds;
    const int result = clock_settime(CLOCK_REALTIME, &ts);
    const int error = errno;
    HostJournal::record(QStringLiteral("SystemClock::setSystemTime(%1) = %2%3")
                            .arg(qint64(seconds))
                            .arg(result)
                            .arg(result == 0 ? QString() : QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(strerror(error)))));
    return result == 0 ? 0 : -1;
}

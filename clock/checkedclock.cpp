#include "checkedclock.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

bool checkedClockGetTime(clockid_t clock, struct timespec *now)
{
    struct timespec read;
    if (clock_gettime(clock, &read) == 0) {
        *now = read;
        return true;
    }
    // With 32-bit time this is EOVERFLOW from 2038 on; a line per read would
    // flood the log of a process that reads the clock for every frame.
    static std::atomic<bool> s_reported{false};
    const int error = errno;
    if (!s_reported.exchange(true))
        std::fprintf(stderr, "headunit: clock %d cannot be read (%s); what needs it goes without\n", int(clock),
                     std::strerror(error));
    return false;
}

bool localTimeNow(struct tm *local)
{
    struct timespec now;
    struct tm broken;
    if (!checkedClockGetTime(CLOCK_REALTIME, &now) || !localtime_r(&now.tv_sec, &broken))
        return false;
    *local = broken;
    return true;
}

bool formatLocalNow(const char *format, char *text, size_t size)
{
    struct tm local;
    char formatted[64];
    if (!localTimeNow(&local))
        return false;
    const size_t length = std::strftime(formatted, sizeof formatted, format, &local);
    if (length == 0 || length >= size)
        return false;
    std::memcpy(text, formatted, length + 1);
    return true;
}

bool clockMs(clockid_t clock, int64_t *ms)
{
    struct timespec now;
    if (!checkedClockGetTime(clock, &now))
        return false;
    *ms = int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return true;
}

bool clockNs(clockid_t clock, int64_t *ns)
{
    struct timespec now;
    if (!checkedClockGetTime(clock, &now))
        return false;
    *ns = int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
    return true;
}

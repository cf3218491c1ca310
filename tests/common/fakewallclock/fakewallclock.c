/* A wall clock of the test's choosing, for the launcher, the simulator and
 * the tests themselves, so that dates past 2038 are tried without touching
 * the machine's clock. Linked into a test, or preloaded into a program of the
 * build with HEADUNIT_TEST_WALL_CLOCK=SECONDS (the clock then runs on from
 * there). Only CLOCK_REALTIME and its coarse twin move; every other clock is
 * the real one.
 *
 * On a 32-bit ABI both of the C library's entry points are taken over: the
 * 64-bit ones (__clock_gettime64 and its kin) that code built with 64-bit time
 * calls, and the 32-bit ones that libraries built with 32-bit time call. The
 * latter fail with EOVERFLOW past 2038, as the C library's own do, so that
 * such libraries meet the year as they will on a board. */

/* This file lays out both time sizes itself. */
#undef _TIME_BITS
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE

#include "fakewallclock.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>

static atomic_llong s_offsetNs;            /* added to the real clock */
static atomic_llong s_frozenNs;            /* the clock's reading while frozen */
static atomic_int s_frozen;

/* Layouts of the 64-bit entry points (little-endian, as on ARM and x86). */
struct Timespec64 {
    int64_t tv_sec;
    long tv_nsec;
#if __SIZEOF_LONG__ == 4
    int32_t padding;
#endif
};
struct Timeval64 {
    int64_t tv_sec;
    int64_t tv_usec;
};

typedef int (*ClockGetTime64)(clockid_t, struct Timespec64 *);
static ClockGetTime64 s_real;

__attribute__((constructor)) static void findRealClock(void)
{
    s_real = (ClockGetTime64)dlsym(RTLD_NEXT, sizeof(time_t) == 8 ? "clock_gettime" : "__clock_gettime64");
    const char *start = getenv("HEADUNIT_TEST_WALL_CLOCK");
    if (start && *start)
        fakeWallClockStartAt(strtoll(start, NULL, 10));
}

static int isWall(clockid_t clock)
{
    return clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE;
}

static int64_t realNs(clockid_t clock)
{
    struct Timespec64 t;
    if (!s_real || s_real(clock, &t) != 0)
        return 0;
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

static int readClock(clockid_t clock, struct Timespec64 *t)
{
    if (!s_real) {
        errno = ENOSYS;
        return -1;
    }
    if (!isWall(clock))
        return s_real(clock, t);
    const int64_t ns = atomic_load(&s_frozen) ? atomic_load(&s_frozenNs) : realNs(clock) + atomic_load(&s_offsetNs);
    t->tv_sec = ns / 1000000000LL;
    t->tv_nsec = (long)(ns % 1000000000LL);
    return 0;
}

void fakeWallClockStartAt(long long seconds)
{
    atomic_store(&s_offsetNs, seconds * 1000000000LL - realNs(CLOCK_REALTIME));
    atomic_store(&s_frozen, 0);
}

void fakeWallClockFreeze(long long seconds, long long milliseconds)
{
    atomic_store(&s_frozenNs, seconds * 1000000000LL + milliseconds * 1000000LL);
    atomic_store(&s_frozen, 1);
}

void fakeWallClockRelease(void)
{
    atomic_store(&s_offsetNs, 0);
    atomic_store(&s_frozen, 0);
}

#if __SIZEOF_LONG__ == 8
/* 64-bit time is the ABI's own. */
int clock_gettime(clockid_t clock, struct timespec *t)
{
    return readClock(clock, (struct Timespec64 *)t);
}

int gettimeofday(struct timeval *restrict tv, void *restrict tz)
{
    (void)tz;
    struct Timespec64 t;
    if (readClock(CLOCK_REALTIME, &t) != 0)
        return -1;
    tv->tv_sec = t.tv_sec;
    tv->tv_usec = t.tv_nsec / 1000;
    return 0;
}

time_t time(time_t *result)
{
    struct Timespec64 t;
    if (readClock(CLOCK_REALTIME, &t) != 0)
        return (time_t)-1;
    if (result)
        *result = t.tv_sec;
    return t.tv_sec;
}
#else
int __clock_gettime64(clockid_t clock, struct Timespec64 *t)
{
    return readClock(clock, t);
}

int __gettimeofday64(struct Timeval64 *restrict tv, void *restrict tz)
{
    (void)tz;
    struct Timespec64 t;
    if (readClock(CLOCK_REALTIME, &t) != 0)
        return -1;
    if (tv) {
        tv->tv_sec = t.tv_sec;
        tv->tv_usec = t.tv_nsec / 1000;
    }
    return 0;
}

int64_t __time64(int64_t *result)
{
    struct Timespec64 t;
    if (readClock(CLOCK_REALTIME, &t) != 0)
        return -1;
    if (result)
        *result = t.tv_sec;
    return t.tv_sec;
}

/* The 32-bit entry points fail past 2038, as the C library's do. */
static int fits32(const struct Timespec64 *t)
{
    if (t->tv_sec == (int32_t)t->tv_sec)
        return 1;
    errno = EOVERFLOW;
    return 0;
}

int clock_gettime(clockid_t clock, struct timespec *t)
{
    struct Timespec64 t64;
    if (readClock(clock, &t64) != 0 || !fits32(&t64))
        return -1;
    t->tv_sec = (time_t)t64.tv_sec;
    t->tv_nsec = t64.tv_nsec;
    return 0;
}

int gettimeofday(struct timeval *restrict tv, void *restrict tz)
{
    (void)tz;
    struct Timespec64 t64;
    if (readClock(CLOCK_REALTIME, &t64) != 0 || !fits32(&t64))
        return -1;
    tv->tv_sec = (time_t)t64.tv_sec;
    tv->tv_usec = t64.tv_nsec / 1000;
    return 0;
}

time_t time(time_t *result)
{
    struct Timespec64 t64;
    if (readClock(CLOCK_REALTIME, &t64) != 0 || !fits32(&t64))
        return (time_t)-1;
    if (result)
        *result = (time_t)t64.tv_sec;
    return (time_t)t64.tv_sec;
}
#endif

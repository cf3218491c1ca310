#ifndef MONOTONICDEADLINE_H
#define MONOTONICDEADLINE_H

#include <cstdint>
#include <ctime>

// The launcher moves the wall clock itself, so every wait of the link is
// measured on the monotonic clock.
inline struct timespec monotonicAfter(int ms)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += ms / 1000;
    t.tv_nsec += long(ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

// In 64 bits: a 32-bit long holds only 24 days of milliseconds.
inline int64_t msSince(const struct timespec &start)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

// Time left until deadline; false once it has passed.
inline bool timeLeft(const struct timespec &deadline, struct timespec *left)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    left->tv_sec = deadline.tv_sec - now.tv_sec;
    left->tv_nsec = deadline.tv_nsec - now.tv_nsec;
    if (left->tv_nsec < 0) {
        left->tv_sec -= 1;
        left->tv_nsec += 1000000000L;
    }
    return left->tv_sec > 0 || (left->tv_sec == 0 && left->tv_nsec > 0);
}

#endif // MONOTONICDEADLINE_H

#ifndef CHECKEDCLOCK_H
#define CHECKEDCLOCK_H

// The clocks as the project's own code reads them: in 64 bits on every ABI
// (32-bit builds use 64-bit time), and checked. A clock that cannot be read is
// reported once per process on standard error and is never taken for a time;
// the caller goes on without it. POSIX only, no Qt: the link and the
// captures use it too.

#include <cstddef>
#include <cstdint>
#include <ctime>

// clock_gettime, with *now untouched and false when it fails.
bool checkedClockGetTime(clockid_t clock, struct timespec *now);

// A clock in milliseconds or nanoseconds (CLOCK_REALTIME: since the
// epoch); false as above.
bool clockMs(clockid_t clock, int64_t *ms);
bool clockNs(clockid_t clock, int64_t *ns);

// The local time now, broken down; false, with *local untouched, when the
// clock cannot be read.
bool localTimeNow(struct tm *local);

// The local time now, formatted by strftime into text; false, with text
// untouched, when the clock cannot be read or the text does not fit.
bool formatLocalNow(const char *format, char *text, size_t size);

#endif // CHECKEDCLOCK_H

#ifndef SYSTEMCLOCK_H
#define SYSTEMCLOCK_H

#include <ctime>

class SystemClock
{
public:
    // Sets the machine's wall clock; 0 on success, -1 otherwise. Needs the
    // privilege to do so on a board.
    static int setSystemTime(time_t seconds);
};

#endif // SYSTEMCLOCK_H

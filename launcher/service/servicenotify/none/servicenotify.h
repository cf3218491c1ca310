#ifndef SERVICENOTIFY_H
#define SERVICENOTIFY_H

// Boards without systemd: nobody to tell, and the calls compile to nothing.

#include <cstdint>

namespace ServiceNotify {

inline void send(const char *) {}

inline uint64_t watchdogPingIntervalUs()
{
    return 0;
}

} // namespace ServiceNotify

#endif // SERVICENOTIFY_H

#ifndef SERVICENOTIFY_H
#define SERVICENOTIFY_H

// Messages to the service manager over the socket named by NOTIFY_SOCKET
// (libsystemd). Without NOTIFY_SOCKET, or when it names nothing, each call
// does nothing and reports nothing. Any thread.

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace ServiceNotify {

inline void send(const char *state)
{
    sd_notify(0, state);
}

// Half of what the manager allows between pings, 0 when it wants none.
inline uint64_t watchdogPingIntervalUs()
{
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? usec / 2 : 0;
}

} // namespace ServiceNotify

#endif // SERVICENOTIFY_H

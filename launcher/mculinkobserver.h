#ifndef MCULINKOBSERVER_H
#define MCULINKOBSERVER_H

#include <sys/types.h>

// Who is at the other end of a connection, as the kernel vouches for it.
struct McuPeerCredentials {
    pid_t pid;
    uid_t uid;
    gid_t gid;
};

// What happens to the MCU link, for logs and supervisors. Calls come from the
// reader thread, from the thread that starts the link (its first connection)
// and from any sender (sendFailed), so implementations must be thread-safe and
// quick: the link waits for them.
class McuLinkObserver
{
public:
    // A connection is made and greeted. attempts and downMs describe the
    // outage it ends (both 0 for the first connection).
    virtual void linkUp(const McuPeerCredentials &peer, unsigned attempts, long downMs) = 0;
    // The greeting (the application-ready frame) went out on a connection.
    virtual void greeted() = 0;
    // The connection ended: error is the read's errno, 0 when the service closed.
    virtual void linkDown(int error) = 0;
    // Still no service: at most once every 30 s while an outage lasts.
    virtual void linkStillDown(unsigned attempts, long downMs) = 0;
    // A peer outside the allowed users answered; it got nothing and is dropped.
    virtual void peerRefused(const McuPeerCredentials &peer) = 0;
    // A frame could not go on a connection that is up: error is send()'s
    // errno, or ETIMEDOUT when the deadline passed. Sends while the link is
    // down fail quietly; linkDown() said why.
    virtual void sendFailed(int error, int len) = 0;

protected:
    ~McuLinkObserver() = default;
};

#endif // MCULINKOBSERVER_H

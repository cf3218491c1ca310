#ifndef MCULINKOBSERVER_H
#define MCULINKOBSERVER_H

#include "mcudumpobserver.h"

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// Who is at the other end of a connection, as the kernel vouches for it.
struct McuPeerCredentials {
    pid_t pid;
    uid_t uid;
    gid_t gid;
};

// What happens to the MCU link, for logs and supervisors; an observer
// overrides what it cares about. Calls come from the
// reader thread, from the thread that starts the link (its first connection)
// and from any sender (sendFailed), so implementations must be thread-safe and
// quick: the link waits for them. The flight recorder's dumps are reported
// from the dumper's thread.
class McuLinkObserver : public McuDumpObserver
{
public:
    // A connection is made and greeted. attempts and downMs describe the
    // outage it ends (both 0 for the first connection).
    virtual void linkUp(const McuPeerCredentials & /*peer*/, unsigned /*attempts*/, int64_t /*downMs*/) {}
    // The greeting (the application-ready frame) went out on a connection.
    virtual void greeted() {}
    // The connection ended: error is the read's errno, 0 when the service closed.
    virtual void linkDown(int /*error*/) {}
    // Still no service: at most once every 30 s while an outage lasts.
    virtual void linkStillDown(unsigned /*attempts*/, int64_t /*downMs*/) {}
    // The launcher's own path could not be bound (error: the unlink's errno,
    // else the bind's); connections go out unnamed until a bind works again.
    virtual void ownPathRefused(const char * /*path*/, int /*error*/) {}
    // A peer outside the allowed users answered; it got nothing and is dropped.
    virtual void peerRefused(const McuPeerCredentials & /*peer*/) {}
    // A frame could not go on a connection that is up: error is send()'s
    // errno, or ETIMEDOUT when the deadline passed. Sends while the link is
    // down fail quietly; linkDown() said why.
    virtual void sendFailed(int /*error*/, int /*len*/) {}
    // The reader dropped or cut what the peer sent: what names the fault.
    virtual void malformedFrame(const char * /*what*/) {}

    // Every frame, as it crossed the link: inbound on the reader thread (the
    // first kept bytes of a frame wireLength long), outbound on the sender's
    // thread once it is out. Called for every frame, so cheap when unused.
    virtual void frameIn(const unsigned char * /*frame*/, size_t /*kept*/, uint64_t /*wireLength*/) {}
    virtual void frameOut(const unsigned char * /*frame*/, size_t /*len*/) {}

protected:
    ~McuLinkObserver() = default;
};

#endif // MCULINKOBSERVER_H

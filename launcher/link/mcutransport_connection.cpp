// The reader's connections: made, admitted, opened to senders and closed to
// them, and made again at a growing interval while the service is away.
#include "mcutransport.h"

#include "mculinkio.h"
#include "monotonicdeadline.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

using McuLinkIo::SendDeadlineMs;

namespace {

enum {
    BackoffFirstMs = 50,
    BackoffMaxMs = 1000,
    OutageReportMs = 30000,
};

} // namespace

// Reader thread. Makes new connections at a growing interval until one is up
// (true) or stop() asks the reader to leave (false). A failed attempt is never
// read from, so the outage's first line above stays its only line on standard
// output; the observer hears of it every 30 s.
bool McuTransport::reconnect()
{
    struct timespec since;
    clock_gettime(CLOCK_MONOTONIC, &since);
    int64_t reportedAtMs = 0;
    unsigned attempts = 0;
    int backoffMs = BackoffFirstMs;
    for (;;) {
        if (!pause(backoffMs))
            return false;
        if (m_fd >= 0)
            ::close(m_fd);
        bool connected = false;
        m_fd = connectSocket(&connected);
        m_reassembler.reset();
        ++attempts;
        McuPeerCredentials peer = {-1, uid_t(-1), gid_t(-1)};
        if (connected && admitPeer(m_fd, &peer) && goUp(m_fd)) {
            if (m_observer)
                m_observer->linkUp(peer, attempts, msSince(since));
            return true;
        }
        backoffMs = std::min(2 * backoffMs, int(BackoffMaxMs));
        const int64_t downMs = msSince(since);
        if (m_observer && downMs - reportedAtMs >= OutageReportMs) {
            reportedAtMs = downMs;
            m_observer->linkStillDown(attempts, downMs);
        }
    }
}

// Unlinks the own path, opens, binds and connects a new socket. Returns the
// socket (-1 if none could be made); *connected tells whether the service
// took it. A failed bind leaves an unnamed socket, which still connects; the
// observer hears of it once, not at every retry.
int McuTransport::connectSocket(bool *connected)
{
    *connected = false;
    // The unlink's failure is the reason to give: a path that stays (another
    // user's, in a sticky /tmp) makes the bind fail with only EADDRINUSE.
    const int unlinkError = ::unlink(m_ownAddr.sun_path) == 0 || errno == ENOENT ? 0 : errno;
    // Non-blocking: a service whose backlog is full must not hold up the
    // starting thread or a reader that is asked to stop.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_connectError = errno;
        return -1;
    }
    if (::bind(fd, reinterpret_cast<const struct sockaddr *>(&m_ownAddr), sizeof m_ownAddr) == 0) {
        m_ownPathRefused = false;
    } else {
        const int error = unlinkError ? unlinkError : errno;
        if (!m_ownPathRefused && m_observer)
            m_observer->ownPathRefused(m_ownAddr.sun_path, error);
        m_ownPathRefused = true;
    }
    *connected = ::connect(fd, reinterpret_cast<const struct sockaddr *>(&m_serviceAddr), m_serviceAddrLen) == 0;
    m_connectError = *connected ? 0 : errno;
    return fd;
}

// Asks the kernel who listens at the service name and lets only an allowed
// user speak for the MCU. A refused peer's connection is shut before anything
// is sent on it; the reader sees it end and the back-off paces the retries.
bool McuTransport::admitPeer(int fd, McuPeerCredentials *peer)
{
    struct ucred cred;
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) {
        peer->pid = cred.pid;
        peer->uid = cred.uid;
        peer->gid = cred.gid;
    } else if (!m_endpoint.allowsUid(uid_t(-1))) {
        ::shutdown(fd, SHUT_RDWR);
        return false;
    }
    if (m_endpoint.allowsUid(peer->uid))
        return true;
    ::shutdown(fd, SHUT_RDWR);
    // A refused peer that stays is named once, not at every retry.
    const bool known = peer->pid == m_lastRefused.pid && peer->uid == m_lastRefused.uid;
    m_lastRefused = *peer;
    if (m_observer && !known)
        m_observer->peerRefused(*peer);
    return false;
}

// Opens the connection to senders, greeting first: no sender can get between
// the greeting and the connection because both happen under the send lock.
// False when the greeting could not go: a connection that missed it is no use
// to the service, so it is shut and the reader makes another.
bool McuTransport::goUp(int fd)
{
    m_sendLock.lock();
    // Read under the send lock: a greeting stored after this is sent by
    // sendGreeting() itself, one stored before by us, never both.
    unsigned char greeting[GreetingMax];
    pthread_mutex_lock(&m_greetingMutex);
    const int greetingLen = m_greetingLen;
    const unsigned serial = m_greetingSerial;
    std::memcpy(greeting, m_greeting, sizeof greeting);
    pthread_mutex_unlock(&m_greetingMutex);

    m_sendFd = fd;
    m_greetedSerial = 0;
    m_recorder.senderEvent(McuCaptureLinkUp, McuCaptureOut);
    bool up = true;
    if (greetingLen > 0) {
        const struct timespec deadline = monotonicAfter(SendDeadlineMs);
        if (sendWholeLocked(fd, greeting, size_t(greetingLen), deadline) == 0) {
            m_greetedSerial = serial;
        } else {
            // Recorded as the end of the connection it opened, so that a
            // dump tells both apart and replays.
            ::shutdown(fd, SHUT_RDWR);
            m_sendFd = -1;
            m_recorder.senderEvent(McuCaptureLinkDown, McuCaptureOut);
            up = false;
        }
    }
    m_sendLock.unlock();
    if (up && greetingLen > 0 && m_observer) {
        m_observer->frameOut(greeting, size_t(greetingLen));
        m_observer->greeted();
    }
    return up;
}

// After this no sender can reach the descriptor, which may then be closed.
void McuTransport::goDown()
{
    m_sendLock.lock();
    m_sendFd = -1;
    m_sendLock.unlock();
}

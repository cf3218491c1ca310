#include "mcutransport.h"

#include "monotonicdeadline.h"

#include <mcusocketname.h>
#include <mcuwords.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

enum {
    SendDeadlineMs = 50,
    BackoffFirstMs = 50,
    BackoffMaxMs = 1000,
    OutageReportMs = 30000,
};

// What a read() or send() result means for the link; every reaction of the
// reader and of the send path starts from here.
enum class IoResult {
    Transferred,  // n > 0 bytes moved
    Retry,        // interrupted before anything moved
    WouldBlock,   // no data yet / no room yet
    EndOfStream,  // the peer closed (read returned 0)
    Failed,       // anything else: the connection is unusable
};

IoResult classify(ssize_t n, int err)
{
    if (n > 0)
        return IoResult::Transferred;
    if (n == 0)
        return IoResult::EndOfStream;
    if (err == EINTR)
        return IoResult::Retry;
    if (err == EAGAIN || err == EWOULDBLOCK)
        return IoResult::WouldBlock;
    return IoResult::Failed;
}

// Waits for room to send until deadline. True means "try again": the send
// itself reports whether it was room or an error that woke us.
bool waitWritable(int fd, const struct timespec &deadline)
{
    struct timespec left;
    if (!timeLeft(deadline, &left))
        return false;
    struct pollfd p = {fd, POLLOUT, 0};
    return ppoll(&p, 1, &left, nullptr) != 0;
}

} // namespace

McuTransport::McuTransport(McuFrameSink &sink, const McuEndpoint &endpoint, McuLinkObserver *observer)
    : m_sink(sink)
    , m_endpoint(endpoint)
    , m_observer(observer)
    , m_running(false)
    , m_thread()
    , m_threadStarted(false)
    , m_wakeFd(-1)
    , m_fd(-1)
    , m_dumper(m_recorder, observer)
    , m_lastRefused{-1, uid_t(-1), gid_t(-1)}
    , m_sendFd(-1)
    , m_greetedSerial(0)
    , m_greetingLen(0)
    , m_greetingSerial(0)
{
    pthread_mutex_init(&m_greetingMutex, nullptr);
    std::memset(&m_ownAddr, 0, sizeof m_ownAddr);
    m_ownAddr.sun_family = AF_UNIX;
    const size_t pathLen = std::min(std::strlen(endpoint.ownPath), sizeof m_ownAddr.sun_path - 1);
    std::memcpy(m_ownAddr.sun_path, endpoint.ownPath, pathLen);
    // A name that fits no address leaves the length 0: every connect fails
    // and the link stays down, as it does while the service is away.
    m_serviceAddrLen = mcuSocketAddress(endpoint.serviceName, &m_serviceAddr);

    std::memset(m_greeting, 0, sizeof m_greeting);
}

McuTransport::~McuTransport()
{
    stop();
    pthread_mutex_destroy(&m_greetingMutex);
}

void McuTransport::start()
{
    if (m_threadStarted)
        return;
    // Without a way to wake the reader there is no way to stop it, so no
    // reader is started and the link stays down.
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        return;

    m_running.store(true);
    m_reassembler.reset();
    m_dumper.start(m_endpoint.dumpDir);
    bool connected = false;
    m_fd = connectSocket(&connected);
    McuPeerCredentials peer = {-1, uid_t(-1), gid_t(-1)};
    if (connected && admitPeer(m_fd, &peer) && goUp(m_fd) && m_observer)
        m_observer->linkUp(peer, 0, 0);

    if (pthread_create(&m_thread, nullptr, readerEntry, this) != 0) {
        m_running.store(false);
        m_dumper.stop();
        goDown();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        ::close(m_wakeFd);
        m_wakeFd = -1;
        return;
    }
    m_threadStarted = true;
}

int McuTransport::stop()
{
    m_running.store(false);
    if (m_threadStarted) {
        const uint64_t one = 1;
        while (::write(m_wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        pthread_join(m_thread, nullptr);
        m_threadStarted = false;
    }
    m_dumper.stop();
    goDown();
    const int result = m_fd >= 0 ? ::close(m_fd) : -1;
    m_fd = -1;
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
    }
    return result;
}

int McuTransport::sendData(const void *data, int len)
{
    return lockedSend(data, len, monotonicAfter(SendDeadlineMs));
}

void McuTransport::requestDump()
{
    m_dumper.request("request");
}

int McuTransport::sendGreeting(const void *frame, int len)
{
    if (len <= 0 || len > GreetingMax)
        return -1;
    const struct timespec deadline = monotonicAfter(SendDeadlineMs);
    unsigned char copy[GreetingMax];
    std::memcpy(copy, frame, size_t(len));
    pthread_mutex_lock(&m_greetingMutex);
    std::memcpy(m_greeting, copy, size_t(len));
    m_greetingLen = len;
    const unsigned serial = ++m_greetingSerial;
    pthread_mutex_unlock(&m_greetingMutex);

    if (!m_sendLock.lockUntil(deadline)) {
        std::puts("===============>repeat call SendData");
        std::fflush(stdout);
        return -1;
    }
    int result = -1;
    if (m_sendFd >= 0) {
        // A connection made since the greeting was stored has had it already.
        result = m_greetedSerial == serial ? 0 : sendWholeLocked(m_sendFd, copy, size_t(len), deadline);
        if (result == 0)
            m_greetedSerial = serial;
    }
    m_sendLock.unlock();
    if (result == 0 && m_observer) {
        m_observer->frameOut(copy, size_t(len));
        m_observer->greeted();
    }
    return result;
}

// Any thread. The whole frame goes within the deadline, or -1.
int McuTransport::lockedSend(const void *data, int len, const struct timespec &deadline)
{
    if (!m_sendLock.lockUntil(deadline)) {
        std::puts("===============>repeat call SendData");
        std::fflush(stdout);
        m_dumper.request("send-timeout");
        return -1;
    }
    int result = -1;
    if (m_sendFd >= 0)
        result = len > 0 ? sendWholeLocked(m_sendFd, static_cast<const unsigned char *>(data), size_t(len), deadline) : 0;
    m_sendLock.unlock();
    if (result == 0 && len > 0 && m_observer)
        m_observer->frameOut(static_cast<const unsigned char *>(data), size_t(len));
    return result;
}

void *McuTransport::readerEntry(void *self)
{
    McuTransport *t = static_cast<McuTransport *>(self);
    t->m_recorder.holdReaderRing();
    t->readerLoop();
    t->m_recorder.lendReaderRing();
    return nullptr;
}

// Reader thread.
void McuTransport::readerLoop()
{
    unsigned char buf[MCU_FRAME_MAX];
    while (m_running.load()) {
        // Read first and wait only when nothing is there: a busy stream costs
        // one system call per read.
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        const int err = errno;
        switch (classify(n, err)) {
        case IoResult::Transferred: {
            m_recorder.readArrived();
            const FrameReassembler::Faults before = m_reassembler.faults();
            m_reassembler.feed(buf, size_t(n), *this);
            checkFaults(before);
            continue;
        }
        case IoResult::Retry:
            continue;
        case IoResult::WouldBlock:
            if (!waitReadable())
                return;
            continue;
        case IoResult::EndOfStream:
            std::printf("Main App invaild datalen:%d\n", int(n));
            break;
        case IoResult::Failed:
            // Also the first pass when the service was not there at start:
            // a socket whose connect failed reads EINVAL.
            std::printf("-main app socket read failed with error: %d\n", err);
            break;
        }
        std::fflush(stdout);

        // The connection is gone (or never came): refuse sends at once.
        goDown();
        m_recorder.readerEvent(McuCaptureLinkDown, McuCaptureIn);
        m_dumper.request("link-down");
        // A socket that never connected fails its read with EINVAL; what
        // people need to hear is why the connect failed.
        if (m_observer)
            m_observer->linkDown(m_connectError ? m_connectError : n == 0 ? 0 : err);
        if (!reconnect())
            return;
    }
}

// Reader thread. Makes new connections at a growing interval until one is up
// (true) or stop() asks the reader to leave (false). A failed attempt is never
// read from, so the outage's first line above stays its only line on standard
// output; the observer hears of it every 30 s.
bool McuTransport::reconnect()
{
    struct timespec since;
    clock_gettime(CLOCK_MONOTONIC, &since);
    long reportedAtMs = 0;
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
        const long downMs = msSince(since);
        if (m_observer && downMs - reportedAtMs >= OutageReportMs) {
            reportedAtMs = downMs;
            m_observer->linkStillDown(attempts, downMs);
        }
    }
}

// Reader thread. False when stop() asks the reader to leave. A socket whose
// connect failed, or none at all, never gets here: its read fails at once
// (EINVAL, EBADF), and the back-off paces the retries. While it waits, here
// and in pause(), the reader lends its ring to the flight recorder's
// snapshots, so that a dump never has to wake it.
bool McuTransport::waitReadable()
{
    struct pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    m_recorder.lendReaderRing();
    int r;
    while ((r = ::poll(fds, 2, -1)) < 0 && errno == EINTR) {
    }
    m_recorder.holdReaderRing();
    return r < 0 || fds[1].revents == 0;
}

// Reader thread. Sleeps ms unless stop() wakes it (then false).
bool McuTransport::pause(int ms)
{
    const struct timespec deadline = monotonicAfter(ms);
    struct pollfd wake = {m_wakeFd, POLLIN, 0};
    struct timespec left;
    int r = 0;
    m_recorder.lendReaderRing();
    while (timeLeft(deadline, &left)) {
        r = ppoll(&wake, 1, &left, nullptr);
        if (r >= 0)
            break;
    }
    m_recorder.holdReaderRing();
    return r <= 0;
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
            ::shutdown(fd, SHUT_RDWR);
            m_sendFd = -1;
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

// Caller holds m_sendLock.
int McuTransport::sendWholeLocked(int fd, const unsigned char *p, size_t len, const struct timespec &deadline)
{
    const McuFlightRecorder::Stamp at = m_recorder.stampSend();
    size_t sent = 0;
    IoResult r = IoResult::Transferred;
    int err = 0;
    while (sent < len) {
        const ssize_t n = ::send(fd, p + sent, len - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        err = errno;
        r = classify(n, err);
        if (r == IoResult::Transferred) {
            sent += size_t(n);
            continue;
        }
        if (r == IoResult::Retry)
            continue;
        if (r == IoResult::WouldBlock && waitWritable(fd, deadline))
            continue;
        break;
    }
    if (sent == len) {
        m_recorder.frameOut(p, len, uint32_t(len), at);
        return 0;
    }
    const int failure = r == IoResult::WouldBlock ? ETIMEDOUT : err;
    if (m_observer)
        m_observer->sendFailed(failure, int(len));
    if (failure == ETIMEDOUT)
        m_dumper.request("send-timeout");
    if (sent > 0) {
        // The service holds the head of a frame: everything after it would be
        // misread, so this connection ends and the reader makes a new one.
        ::shutdown(fd, SHUT_RDWR);
        m_sendFd = -1;
    }
    return -1;
}

// Reader thread: every complete frame passes here on its way to the sink.
void McuTransport::onMcuFrame(unsigned char *frame)
{
    const uint64_t wireLength = m_reassembler.handedWireLength();
    const size_t kept = size_t(std::min<uint64_t>(wireLength, MCU_FRAME_MAX));
    // The recorder keeps the frame as it came, with the len word the peer
    // wrote rather than the dispatcher's cap.
    const bool capped = wireLength > MCU_FRAME_MAX;
    if (capped)
        mcuPutWord(frame + 8, uint32_t(wireLength));
    m_recorder.frameIn(frame, kept, uint32_t(wireLength));
    if (capped)
        mcuPutWord(frame + 8, MCU_FRAME_MAX);
    if (m_observer)
        m_observer->frameIn(frame, kept, wireLength);
    m_sink.onMcuFrame(frame);
}

// Reader thread. A read that made the reassembly drop or cut bytes is the
// moment an engineer wants to see the frames before.
void McuTransport::checkFaults(const FrameReassembler::Faults &before)
{
    const FrameReassembler::Faults &now = m_reassembler.faults();
    const char *what = now.discarded != before.discarded   ? "len zero or negative"
                       : now.overflowed != before.overflowed ? "frame longer than the reassembly buffer"
                       : now.capped != before.capped         ? "frame longer than 268 bytes"
                                                             : nullptr;
    if (!what)
        return;
    if (m_observer)
        m_observer->malformedFrame(what);
    m_dumper.request("malformed");
}

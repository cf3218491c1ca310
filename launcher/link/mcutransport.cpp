// The link's life and its reader: start and stop, reading, waiting, and
// every inbound frame on its way to the sink. The connections the reader
// makes are in mcutransport_connection.cpp, the send path in
// mcutransport_send.cpp.
#include "mcutransport.h"

#include "mculinkio.h"
#include "monotonicdeadline.h"

#include <mcusocketname.h>
#include <mcuwords.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

using McuLinkIo::classify;
using McuLinkIo::IoResult;

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

void McuTransport::requestDump()
{
    m_dumper.request("request");
}

void *McuTransport::readerEntry(void *self)
{
    static_cast<McuTransport *>(self)->readerLoop();
    return nullptr;
}

// Reader thread.
void McuTransport::readerLoop()
{
    unsigned char buf[McuLinkIo::ReadsPerPass * MCU_FRAME_MAX];
    while (m_running.load()) {
        // Read first and wait only when nothing is there: a busy stream costs
        // one system call per read. A stream that comes faster than the
        // frames are handed on is read several reads in a pass, with nothing
        // called between them: they share one stamp, taken once they are in.
        size_t got = 0;
        ssize_t n;
        int err;
        IoResult result;
        do {
            n = ::read(m_fd, buf + got, MCU_FRAME_MAX);
            err = errno;
            result = classify(n, err);
            if (result == IoResult::Transferred)
                got += size_t(n);
        } while (result == IoResult::Retry
                 || (result == IoResult::Transferred && n == ssize_t(MCU_FRAME_MAX) && got < sizeof buf));
        if (got > 0) {
            m_recorder.stampRead();
            const FrameReassembler::Faults before = m_reassembler.faults();
            m_reassembler.feed(buf, got, *this);
            checkFaults(before);
        }
        switch (result) {
        case IoResult::Transferred:
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

// Reader thread. False when stop() asks the reader to leave. A socket whose
// connect failed, or none at all, never gets here: its read fails at once
// (EINVAL, EBADF), and the back-off paces the retries.
bool McuTransport::waitReadable()
{
    struct pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    int r;
    while ((r = ::poll(fds, 2, -1)) < 0 && errno == EINTR) {
    }
    return r < 0 || fds[1].revents == 0;
}

// Reader thread. Sleeps ms unless stop() wakes it (then false).
bool McuTransport::pause(int ms)
{
    const struct timespec deadline = monotonicAfter(ms);
    struct pollfd wake = {m_wakeFd, POLLIN, 0};
    struct timespec left;
    int r = 0;
    while (timeLeft(deadline, &left)) {
        r = ppoll(&wake, 1, &left, nullptr);
        if (r >= 0)
            break;
    }
    return r <= 0;
}

// Reader thread: the frames of a read, recorded as they came before any of
// them is handed on. The ring is held for this alone, so that a dump never
// waits for the sink or an observer, however long they take.
void McuTransport::framesCut(const McuFrameCut *cuts, size_t count)
{
    m_recorder.holdReaderRing();
    for (size_t i = 0; i < count; ++i)
        m_recorder.frameIn(cuts[i].bytes, cuts[i].kept, uint32_t(cuts[i].wireLength));
    m_recorder.lendReaderRing();
}

// Reader thread: every complete frame passes here on its way to the sink.
void McuTransport::onMcuFrame(unsigned char *frame)
{
    if (m_observer) {
        const uint64_t wireLength = m_reassembler.handedWireLength();
        m_observer->frameIn(frame, size_t(std::min<uint64_t>(wireLength, MCU_FRAME_MAX)), wireLength);
    }
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

// The send path, shared by every thread: one whole frame on the wire at a
// time, under the send lock, within the deadline.
#include "mcutransport.h"

#include "mculinkio.h"
#include "monotonicdeadline.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>

using McuLinkIo::classify;
using McuLinkIo::IoResult;
using McuLinkIo::SendDeadlineMs;

namespace {

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

int McuTransport::sendData(const void *data, int len)
{
    return lockedSend(data, len, monotonicAfter(SendDeadlineMs));
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

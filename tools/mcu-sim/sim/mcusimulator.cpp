#include "mcusimulator.h"

#include <mcusocketname.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const size_t MaxKept = 1024;
const int SendStallMs = 1000;

} // namespace

McuSimulator::McuSimulator(LineSink sink)
    : m_sink(std::move(sink))
    , m_listenFd(-1)
    , m_connFd(-1)
    , m_connections(0)
{
}

McuSimulator::~McuSimulator()
{
    if (m_connFd >= 0) {
        capture(McuCaptureRecord::linkEvent(McuCaptureLinkDown, McuCaptureIn));
        ::close(m_connFd);
    }
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

bool McuSimulator::listen(const std::string &name, std::string *error)
{
    struct sockaddr_un addr;
    const socklen_t len = mcuSocketAddress(name.data(), name.size(), &addr);
    if (len == 0) {
        *error = "the name must be '@' and 1 to " + std::to_string(McuSocketNameMax - 1) + " characters";
        return false;
    }

    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<struct sockaddr *>(&addr), len) != 0
        || ::listen(m_listenFd, 4) != 0) {
        *error = "cannot listen on " + name + ": " + std::strerror(errno);
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        m_listenFd = -1;
        return false;
    }
    m_sink(Info, "-- listening on " + name);
    return true;
}

bool McuSimulator::captureTo(const std::string &path, std::string *error)
{
    if (!m_capture.open(path, error))
        return false;
    m_sink(Info, "-- recording the session to " + path);
    return true;
}

void McuSimulator::capture(const McuCaptureRecord &record)
{
    std::string error;
    if (!m_capture.isOpen() || m_capture.write(record, &error))
        return;
    m_capture.close();
    m_sink(Result, "!! recording stopped: " + error);
}

int McuSimulator::remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

bool McuSimulator::pollOnce(int ms, int wakeFd)
{
    struct pollfd fds[3];
    nfds_t n = 0;
    fds[n++] = {m_listenFd, POLLIN, 0};
    const nfds_t conn = m_connFd >= 0 ? n++ : nfds_t(-1);
    if (conn != nfds_t(-1))
        fds[conn] = {m_connFd, POLLIN, 0};
    const nfds_t wake = wakeFd >= 0 ? n++ : nfds_t(-1);
    if (wake != nfds_t(-1))
        fds[wake] = {wakeFd, POLLIN, 0};

    if (::poll(fds, n, ms) <= 0)
        return false;
    // The old connection's last bytes are shown before a new one replaces it.
    if (conn != nfds_t(-1) && fds[conn].revents)
        readConnection();
    if (fds[0].revents & POLLIN)
        accept();
    return wake != nfds_t(-1) && fds[wake].revents != 0;
}

void McuSimulator::accept()
{
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    if (m_connFd >= 0)
        dropConnection("replaced by a new connection", McuCaptureOut);
    m_connFd = fd;
    ++m_connections;
    m_decoder.reset();
    capture(McuCaptureRecord::linkEvent(McuCaptureLinkUp, McuCaptureOut));
    m_sink(Info, "-- launcher connected");
}

void McuSimulator::readConnection()
{
    std::string ended;
    if (!readOnce(&ended))
        dropConnection(ended, McuCaptureOut);
}

bool McuSimulator::readOnce(std::string *ended)
{
    // Takes what is waiting, up to 64 kB, so that a launcher answering under
    // its send deadline finds room at once; the bound keeps a flood from
    // holding the caller.
    unsigned char buf[4096];
    for (int reads = 0; reads < 16; ++reads) {
        const ssize_t n = ::read(m_connFd, buf, sizeof buf);
        if (n == 0) {
            *ended = "closed by the launcher";
            return false;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return true;
            *ended = std::strerror(errno);
            return false;
        }
        for (DecodedFrame &frame : m_decoder.feed(buf, size_t(n))) {
            capture(McuCaptureRecord::frame(McuCaptureOut, frame.bytes.data(), frame.bytes.size()));
            m_sink(Traffic, "<- " + frame.text);
            if (m_observer)
                m_observer(frame);
            if (m_kept.size() == MaxKept)
                m_kept.pop_front();
            m_kept.push_back(std::move(frame));
        }
    }
    return true;
}

void McuSimulator::dropConnection(const std::string &why, McuCaptureDirection by)
{
    if (m_decoder.buffered() > 0)
        m_sink(Info, "-- " + std::to_string(m_decoder.buffered()) + " bytes of an unfinished frame dropped");
    m_decoder.reset();
    ::close(m_connFd);
    m_connFd = -1;
    capture(McuCaptureRecord::linkEvent(McuCaptureLinkDown, by));
    m_sink(Info, "-- launcher disconnected: " + why);
}

void McuSimulator::disconnect()
{
    if (m_connFd >= 0)
        dropConnection("by the simulator", McuCaptureIn);
}

bool McuSimulator::waitConnected(int ms)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!isConnected()) {
        const int left = remainingMs(deadline);
        if (left == 0)
            return false;
        pollOnce(left, -1);
    }
    return true;
}

bool McuSimulator::send(const std::vector<unsigned char> &bytes, std::string *error)
{
    size_t sent = 0;
    std::string ended;
    const bool whole = sendAll(bytes, &sent, &ended, error);
    // One record per send, of what reached the launcher, before the
    // connection's end: a raw send is kept as written.
    if (sent > 0)
        capture(McuCaptureRecord::frame(McuCaptureIn, bytes.data(), sent));
    if (!ended.empty())
        dropConnection(ended, McuCaptureOut);
    return whole;
}

bool McuSimulator::sendAll(const std::vector<unsigned char> &bytes, size_t *sent, std::string *ended, std::string *error)
{
    Clock::time_point stalledSince = Clock::now();
    while (*sent < bytes.size()) {
        if (m_connFd < 0) {
            *error = "the launcher is not connected";
            return false;
        }
        const ssize_t n = ::send(m_connFd, bytes.data() + *sent, bytes.size() - *sent, MSG_NOSIGNAL);
        if (n > 0) {
            *sent += size_t(n);
            stalledSince = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // The launcher answers on the thread that reads, so it may itself
            // wait to send: keep reading, as an MCU service does, or both ends
            // wait for each other. A launcher that stops reading must still
            // not hang the scenario.
            const int left = remainingMs(stalledSince + std::chrono::milliseconds(SendStallMs));
            struct pollfd fd = {m_connFd, POLLOUT | POLLIN, 0};
            if (left > 0 && ::poll(&fd, 1, left) > 0) {
                if ((fd.revents & ~POLLOUT) && !readOnce(ended)) {
                    *error = "the launcher's connection ended: " + *ended;
                    return false;
                }
                continue;
            }
            *error = "the launcher stopped reading (" + std::to_string(*sent) + " of "
                     + std::to_string(bytes.size()) + " bytes sent)";
            return false;
        }
        *ended = std::strerror(n < 0 ? errno : EPIPE);
        *error = "send failed: " + *ended;
        return false;
    }
    return true;
}

bool McuSimulator::pump(int ms, int wakeFd)
{
    if (ms < 0) {
        while (!pollOnce(-1, wakeFd)) {
        }
        return true;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (int left = ms; left > 0; left = remainingMs(deadline)) {
        if (pollOnce(left, wakeFd))
            return true;
    }
    return false;
}

bool McuSimulator::pumpUntil(const std::function<bool()> &done, int ms)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (bool polled = false; !done(); polled = true) {
        const int left = remainingMs(deadline);
        if (left == 0 && polled)
            return false;
        pollOnce(left, -1);
    }
    return true;
}

bool McuSimulator::claim(const std::string &name, const std::string &match, bool wellFormedOnly)
{
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        if (it->name == name && (!wellFormedOnly || it->wellFormed) && it->text.find(match) != std::string::npos) {
            m_kept.erase(it);
            return true;
        }
    }
    return false;
}

bool McuSimulator::expect(const std::string &name, const std::string &match, int ms, std::string *why)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    // Reads at least once, so "expect NAME 0" sees what is already waiting.
    for (bool polled = false; !claim(name, match, true); polled = true) {
        const int left = remainingMs(deadline);
        if (left == 0 && polled) {
            *why = "no " + name + (match.empty() ? "" : " with \"" + match + "\"") + " within "
                   + std::to_string(ms) + " ms";
            if (claim(name, match, false))
                *why += " (a malformed one arrived)";
            return false;
        }
        pollOnce(left, -1);
    }
    return true;
}

bool McuSimulator::expectNone(const std::string &name, const std::string &match, int ms, std::string *why)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (bool polled = false;; polled = true) {
        if (claim(name, match, false)) {
            *why = "an unwanted " + name + (match.empty() ? "" : " with \"" + match + "\"") + " arrived";
            return false;
        }
        const int left = remainingMs(deadline);
        if (left == 0 && polled)
            return true;
        pollOnce(left, -1);
    }
}

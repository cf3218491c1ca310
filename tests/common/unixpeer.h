#ifndef UNIXPEER_H
#define UNIXPEER_H

// Plain POSIX stand-in for the MCU service, for tests that must run without Qt
// (ThreadSanitizer builds) or need the raw descriptors: a listener on an
// abstract name of its own, and whole-buffer reads and writes with time-outs.

#include <mcuendpoint.h>
#include <mcusocketname.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace unixpeer {

// Names no other run uses (tag, pid and counter), on the rule of the test
// builds' endpoint: NAME gives "@NAME" and "/tmp/hu-NAME.sock", so that name
// can go to a launcher_e2e process in HEADUNIT_TEST_MCU_NAME. Removes the own
// path at the end.
class Names
{
public:
    explicit Names(const char *tag)
    {
        static std::atomic<int> s_counter{0};
        name = std::string(tag) + '-' + std::to_string(getpid()) + '-' + std::to_string(s_counter++);
        serviceName = "@" + name;
        ownPath = "/tmp/hu-" + name + ".sock";
    }
    ~Names() { ::unlink(ownPath.c_str()); }
    Names(const Names &) = delete;
    Names &operator=(const Names &) = delete;

    McuEndpoint endpoint() const { return McuEndpoint{ownPath.c_str(), serviceName.c_str()}; }

    std::string name;
    std::string serviceName;
    std::string ownPath;
};

// Listens on exactly the name's bytes: a client that passes a longer address
// (a trailing NUL, say) names another socket and is never accepted here.
class Listener
{
public:
    // A client is told the credentials of the process that called listen():
    // given a user, that is a child that became the user (and its group) first,
    // which needs root.
    explicit Listener(const std::string &serviceName, uid_t listenAs = uid_t(-1))
    {
        struct sockaddr_un addr;
        const socklen_t len = mcuSocketAddress(serviceName.data(), serviceName.size(), &addr);
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 && (::bind(m_fd, reinterpret_cast<struct sockaddr *>(&addr), len) != 0 || !listen(listenAs))) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Listener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    bool isListening() const { return m_fd >= 0; }
    pid_t listenedBy() const { return m_listenedBy; }

    // A connected descriptor the caller closes, or -1 on time-out.
    int accept(int timeoutMs) const
    {
        struct pollfd p = {m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return -1;
        return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    bool listen(uid_t as)
    {
        if (as == uid_t(-1)) {
            m_listenedBy = ::getpid();
            return ::listen(m_fd, 4) == 0;
        }
        m_listenedBy = ::fork();
        if (m_listenedBy == 0)
            ::_exit(::setgid(as) == 0 && ::setuid(as) == 0 && ::listen(m_fd, 4) == 0 ? 0 : 1);
        int status = -1;
        return m_listenedBy > 0 && ::waitpid(m_listenedBy, &status, 0) == m_listenedBy && status == 0;
    }

    int m_fd = -1;
    pid_t m_listenedBy = -1;
};

// Reads exactly n bytes; false on end of stream, error or time-out.
inline bool readFull(int fd, void *buf, size_t n, int timeoutMs)
{
    auto *p = static_cast<unsigned char *>(buf);
    while (n > 0) {
        struct pollfd pfd = {fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) != 1)
            return false;
        const ssize_t got = ::read(fd, p, n);
        if (got <= 0)
            return false;
        p += got;
        n -= size_t(got);
    }
    return true;
}

inline bool writeFull(int fd, const void *buf, size_t n)
{
    return ::send(fd, buf, n, MSG_NOSIGNAL) == ssize_t(n);
}

} // namespace unixpeer

#endif // UNIXPEER_H

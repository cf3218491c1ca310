#ifndef FAKEMCUSERVICE_H
#define FAKEMCUSERVICE_H

// The MCU service's end of the link for tests: listens on an abstract name of
// its own, accepts the launcher's connection and reads or writes raw bytes.
// Names include the pid and a counter, so parallel runs never meet.

#include <mcuendpoint.h>

#include <QByteArray>
#include <QDeadlineTimer>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class FakeMcuService
{
public:
    FakeMcuService()
    {
        static std::atomic<int> s_counter{0};
        const QByteArray tag = QByteArray::number(qint64(getpid())) + '-' + QByteArray::number(s_counter++);
        m_serviceName = "@hu-fakemcu-" + tag;
        m_ownPath = "/tmp/hu-fakemcu-" + tag + ".sock";

        struct sockaddr_un addr;
        std::memset(&addr, 0, sizeof addr);
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, m_serviceName.constData(), size_t(m_serviceName.size()));
        addr.sun_path[0] = '\0';
        const socklen_t len = socklen_t(offsetof(struct sockaddr_un, sun_path) + size_t(m_serviceName.size()));
        m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<struct sockaddr *>(&addr), len) != 0
            || ::listen(m_listenFd, 4) != 0) {
            closeFd(m_listenFd);
        }
    }

    ~FakeMcuService()
    {
        dropConnection();
        closeFd(m_listenFd);
        ::unlink(m_ownPath.constData());
    }

    FakeMcuService(const FakeMcuService &) = delete;
    FakeMcuService &operator=(const FakeMcuService &) = delete;

    bool isListening() const { return m_listenFd >= 0; }

    // Valid as long as this object lives.
    McuEndpoint endpoint() const { return McuEndpoint{m_ownPath.constData(), m_serviceName.constData()}; }

    // Accepts the next connection, dropping the current one.
    bool waitForConnection(int timeoutMs = 5000)
    {
        dropConnection();
        struct pollfd p = {m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return false;
        m_fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        return m_fd >= 0;
    }

    void dropConnection() { closeFd(m_fd); }

    // Exactly count bytes, or fewer when they do not come in time.
    QByteArray read(int count, int timeoutMs = 5000)
    {
        QByteArray bytes;
        QDeadlineTimer deadline(timeoutMs);
        while (bytes.size() < count && m_fd >= 0) {
            struct pollfd p = {m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(deadline.remainingTime())) != 1)
                break;
            char buf[512];
            const ssize_t n = ::read(m_fd, buf, size_t(qMin(count - bytes.size(), int(sizeof buf))));
            if (n <= 0)
                break;
            bytes.append(buf, int(n));
        }
        return bytes;
    }

    // Bytes that have arrived and not been read yet, without waiting.
    int pending() const
    {
        int n = 0;
        return m_fd >= 0 && ::ioctl(m_fd, FIONREAD, &n) == 0 ? n : 0;
    }

    bool write(const QByteArray &bytes)
    {
        return m_fd >= 0 && ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }

private:
    static void closeFd(int &fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    QByteArray m_serviceName;
    QByteArray m_ownPath;
    int m_listenFd = -1;
    int m_fd = -1;
};

#endif // FAKEMCUSERVICE_H

#ifndef FAKEMCUSERVICE_H
#define FAKEMCUSERVICE_H

// The MCU service's end of the link for Qt tests: listens on names of its own,
// accepts the launcher's connection and reads or writes raw bytes.

#include "unixpeer.h"

#include <QByteArray>

#include <sys/ioctl.h>

class FakeMcuService
{
public:
    FakeMcuService() = default;
    ~FakeMcuService() { dropConnection(); }

    FakeMcuService(const FakeMcuService &) = delete;
    FakeMcuService &operator=(const FakeMcuService &) = delete;

    bool isListening() const { return m_listener.isListening(); }

    // Valid as long as this object lives.
    McuEndpoint endpoint() const { return m_names.endpoint(); }

    // Accepts the next connection, dropping the current one.
    bool waitForConnection(int timeoutMs = 5000)
    {
        dropConnection();
        m_fd = m_listener.accept(timeoutMs);
        return m_fd >= 0;
    }

    void dropConnection()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // Exactly count bytes, or nothing when they do not all come in time.
    QByteArray read(int count, int timeoutMs = 5000)
    {
        QByteArray bytes(count, '\0');
        if (m_fd < 0 || !unixpeer::readFull(m_fd, bytes.data(), size_t(count), timeoutMs))
            return QByteArray();
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
        return m_fd >= 0 && unixpeer::writeFull(m_fd, bytes.constData(), size_t(bytes.size()));
    }

private:
    unixpeer::Names m_names{"fakemcu"};
    unixpeer::Listener m_listener{m_names.serviceName};
    int m_fd = -1;
};

#endif // FAKEMCUSERVICE_H

#ifndef STARTEDLINK_H
#define STARTEDLINK_H

// A link started on names of its own and the MCU service's end of its
// connection, for the tests of commands, dispatch and clock.

#include <mainappprotocolcomm.h>

#include "unixpeer.h"

#include <QByteArray>

#include <sys/ioctl.h>

class StartedLink
{
public:
    // The link stops before the service end closes, or it would reconnect.
    ~StartedLink()
    {
        link.Stop();
        dropConnection();
    }

    // True once the link has connected.
    bool start()
    {
        if (!m_listener.isListening())
            return false;
        link.Start();
        return waitForConnection();
    }

    // One frame as the reader thread hands it on.
    void dispatch(QByteArray frame) { link.resolvePacket(reinterpret_cast<unsigned char *>(frame.data())); }

    // The service end: accepts the next connection, dropping the current one.
    bool waitForConnection()
    {
        dropConnection();
        m_fd = m_listener.accept(5000);
        return m_fd >= 0;
    }

    void dropConnection()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // Exactly count bytes, or nothing when they do not all come in time.
    QByteArray read(int count)
    {
        QByteArray bytes(count, '\0');
        return m_fd >= 0 && unixpeer::readFull(m_fd, bytes.data(), size_t(count), 5000) ? bytes : QByteArray();
    }

    // Bytes that have arrived and not been read yet, without waiting.
    int pending() const
    {
        int n = 0;
        return m_fd >= 0 && ::ioctl(m_fd, FIONREAD, &n) == 0 ? n : 0;
    }

    bool write(const QByteArray &bytes) { return m_fd >= 0 && unixpeer::writeFull(m_fd, bytes.constData(), size_t(bytes.size())); }

private:
    unixpeer::Names m_names{"link"};
    unixpeer::Listener m_listener{m_names.serviceName};
    int m_fd = -1;

public:
    tqappframework::MainAppProtocolComm link{m_names.endpoint()};
};

#endif // STARTEDLINK_H

#ifndef SERVICEEND_H
#define SERVICEEND_H

// The MCU service's end of a link under test: names of its own, a listener on
// them and the connection it accepted last, closed before the listener. The
// test's thread owns it all.

#include "unixpeer.h"

#include <QByteArray>

#include <memory>
#include <sys/ioctl.h>

class ServiceEnd
{
public:
    explicit ServiceEnd(const char *tag)
        : names(tag)
        , listener(std::make_unique<unixpeer::Listener>(names.serviceName))
    {
    }
    ~ServiceEnd() { drop(); }
    ServiceEnd(const ServiceEnd &) = delete;
    ServiceEnd &operator=(const ServiceEnd &) = delete;

    // Accepts the next connection, dropping the current one.
    bool accept(int timeoutMs = 5000)
    {
        drop();
        fd = listener ? listener->accept(timeoutMs) : -1;
        return fd >= 0;
    }

    void drop()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    // The service goes away (the name is free), or comes back, as uid when given.
    void stopListening() { listener.reset(); }
    void listen(uid_t as = uid_t(-1))
    {
        listener.reset();
        listener = std::make_unique<unixpeer::Listener>(names.serviceName, as);
    }

    // Exactly count bytes, or nothing when they do not all come in time.
    QByteArray read(int count, int timeoutMs = 5000)
    {
        QByteArray bytes(count, '\0');
        return fd >= 0 && unixpeer::readFull(fd, bytes.data(), size_t(count), timeoutMs) ? bytes : QByteArray();
    }

    // Bytes that have arrived and not been read yet, without waiting.
    int pending() const
    {
        int n = 0;
        return fd >= 0 && ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
    }

    bool write(const QByteArray &bytes) { return fd >= 0 && unixpeer::writeFull(fd, bytes.constData(), size_t(bytes.size())); }

    unixpeer::Names names;
    std::unique_ptr<unixpeer::Listener> listener;
    int fd = -1;
};

#endif // SERVICEEND_H

#ifndef STDOUTCAPTURE_H
#define STDOUTCAPTURE_H

// Collects what the process writes to standard output (fd 1) between
// construction and take(). Output of every thread is caught, so keep the
// window short. At most a pipe's capacity (64 KiB) is kept.

#include <QByteArray>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

class StdoutCapture
{
public:
    StdoutCapture()
    {
        fflush(stdout);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_readFd = fds[0];
        m_savedFd = ::dup(STDOUT_FILENO);
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[1]);
    }

    ~StdoutCapture() { take(); }

    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Restores standard output and returns what was written meanwhile.
    QByteArray take()
    {
        if (m_savedFd < 0)
            return m_text;
        fflush(stdout);
        ::dup2(m_savedFd, STDOUT_FILENO);
        ::close(m_savedFd);
        m_savedFd = -1;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(m_readFd, buf, sizeof buf)) > 0)
            m_text.append(buf, int(n));
        ::close(m_readFd);
        m_readFd = -1;
        return m_text;
    }

private:
    int m_readFd = -1;
    int m_savedFd = -1;
    QByteArray m_text;
};

#endif // STDOUTCAPTURE_H

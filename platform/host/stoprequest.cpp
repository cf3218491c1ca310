// On the head unit the launcher runs until the power goes. On a PC a person or
// a test stops it with SIGTERM, and the host platform turns that into a quit of
// the event loop, so that main() tears everything down in its order and
// returns. A signal handler may only write to a pipe; a thread of the platform
// reads it and posts the quit, which is safe from any thread.

#include <QCoreApplication>
#include <QMetaObject>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

int g_stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    const int saved = errno;
    (void)!::write(g_stopPipe[1], &byte, 1);
    errno = saved;
}

void watchStopRequests()
{
    for (;;) {
        char byte;
        const ssize_t n = ::read(g_stopPipe[0], &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        // No event loop to leave (before the application object exists, or
        // after it is gone): stop the way SIGTERM always does.
        QCoreApplication *app = QCoreApplication::instance();
        if (!app) {
            std::signal(SIGTERM, SIG_DFL);
            std::raise(SIGTERM);
            return;
        }
        QMetaObject::invokeMethod(app, "quit", Qt::QueuedConnection);
    }
}

const bool g_watching = [] {
    if (::pipe2(g_stopPipe, O_CLOEXEC) != 0)
        return false;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGTERM, &action, nullptr) != 0)
        return false;
    // Blocked in read() until a request comes; ends with the process.
    std::thread(watchStopRequests).detach();
    return true;
}();

} // namespace

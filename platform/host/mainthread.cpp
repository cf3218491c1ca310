#include "mainthread_p.h"

#include <QCoreApplication>
#include <QDebug>
#include <QKeyEvent>
#include <QSocketNotifier>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <sys/eventfd.h>

namespace {

struct Mailbox {
    std::mutex mutex;
    // The current application's, while it takes requests; under mutex.
    QObject *receiver = nullptr;
    unsigned beeps = 0; // under mutex
    bool quit = false;  // under mutex
    // Made once and kept; each application's notifier watches it. Under mutex.
    int wake = -1;
};

// Never destroyed: the MCU reader thread outlives main().
Mailbox &mailbox()
{
    static auto *instance = new Mailbox;
    return *instance;
}

// Caller holds the mutex. The first request after the main thread took the
// last ones wakes it; it clears the descriptor as it takes them, under this
// lock, so that no request is left without a wake-up.
bool wakeLocked(Mailbox &box)
{
    if (!box.receiver)
        return false;
    if (box.beeps == 0 && !box.quit)
        (void)::eventfd_write(box.wake, 1);
    return true;
}

// Main thread, on the notifier. Key events are sent one per request, as the
// board's UI posts one per key: the application's event filters see them.
void deliver(QObject *receiver)
{
    Mailbox &box = mailbox();
    unsigned beeps;
    bool quit;
    {
        const std::lock_guard<std::mutex> lock(box.mutex);
        eventfd_t count;
        (void)::eventfd_read(box.wake, &count);
        beeps = box.beeps;
        quit = box.quit;
        box.beeps = 0;
        box.quit = false;
    }
    for (; beeps > 0; --beeps) {
        QKeyEvent event(QEvent::KeyPress, Qt::Key_Meta, Qt::NoModifier, QStringLiteral("beep"));
        QCoreApplication::sendEvent(receiver, &event);
    }
    if (quit)
        QCoreApplication::quit();
}

// Main thread. The receiver and its notifier go with the application.
void closeMailbox()
{
    Mailbox &box = mailbox();
    const std::lock_guard<std::mutex> lock(box.mutex);
    box.receiver = nullptr;
    box.beeps = 0;
    box.quit = false;
}

// Main thread, as each application is constructed, once its event dispatcher
// exists.
void openMailbox()
{
    QCoreApplication *app = QCoreApplication::instance();
    Mailbox &box = mailbox();
    int wake;
    {
        const std::lock_guard<std::mutex> lock(box.mutex);
        if (box.wake < 0)
            box.wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        wake = box.wake;
    }
    if (wake < 0) {
        qWarning("host platform: no eventfd (%s); MCU key beeps and quitting by signal are off", std::strerror(errno));
        return;
    }
    auto *receiver = new QObject(app);
    auto *notifier = new QSocketNotifier(wake, QSocketNotifier::Read, receiver);
    QObject::connect(notifier, &QSocketNotifier::activated, receiver, [receiver] { deliver(receiver); });
    QObject::connect(app, &QCoreApplication::aboutToQuit, receiver, closeMailbox);
    qAddPostRoutine(closeMailbox);
    const std::lock_guard<std::mutex> lock(box.mutex);
    box.receiver = receiver;
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(openMailbox)

namespace HostMainThread {

bool requestBeep()
{
    Mailbox &box = mailbox();
    const std::lock_guard<std::mutex> lock(box.mutex);
    if (!wakeLocked(box))
        return false;
    if (box.beeps < UINT_MAX)
        ++box.beeps;
    return true;
}

bool requestQuit()
{
    Mailbox &box = mailbox();
    const std::lock_guard<std::mutex> lock(box.mutex);
    if (!wakeLocked(box))
        return false;
    box.quit = true;
    return true;
}

} // namespace HostMainThread

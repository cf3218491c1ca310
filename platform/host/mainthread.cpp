#include "mainthread_p.h"

#include <QCoreApplication>
#include <QDebug>
#include <QKeyEvent>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/eventfd.h>

namespace {

struct Mailbox {
    std::mutex mutex;
    // The current application's, while it takes requests; under mutex.
    QObject *receiver = nullptr;
    bool beep = false; // under mutex
    bool quit = false; // under mutex
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
    if (!box.beep && !box.quit)
        (void)::eventfd_write(box.wake, 1);
    return true;
}

// Any thread: sets one of the mailbox's flags, false while no application
// takes requests.
bool request(bool Mailbox::*flag)
{
    Mailbox &box = mailbox();
    const std::lock_guard<std::mutex> lock(box.mutex);
    if (!wakeLocked(box))
        return false;
    box.*flag = true;
    return true;
}

// Main thread, on the notifier; the application's event filters see the key
// event. Key presses that came while one was waiting make no more events: the
// beep filter plays at most one in 121 ms anyway, and an MCU flooding keys
// faster than the main thread takes them must neither queue work for it
// without bound nor hold a quit back behind that work.
void deliver(QObject *receiver)
{
    Mailbox &box = mailbox();
    bool beep;
    bool quit;
    {
        const std::lock_guard<std::mutex> lock(box.mutex);
        eventfd_t count;
        (void)::eventfd_read(box.wake, &count);
        beep = box.beep;
        quit = box.quit;
        box.beep = false;
        box.quit = false;
    }
    if (beep) {
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
    box.beep = false;
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
    return request(&Mailbox::beep);
}

bool requestQuit()
{
    return request(&Mailbox::quit);
}

} // namespace HostMainThread

#include "signaldelivery_p.h"

#include "hoststate_p.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace {

// The platform's own thread for signals. Left running until the process ends,
// like the platform's service threads.
QObject *workerContext()
{
    static QObject *context = [] {
        auto *thread = new QThread;
        thread->setObjectName(QStringLiteral("platform-signals"));
        auto *object = new QObject;
        object->moveToThread(thread);
        thread->start();
        return object;
    }();
    return context;
}

} // namespace

SignalDelivery::SignalDelivery(QObject *sender)
    : m_sender(sender)
    , m_guard(std::make_shared<Guard>())
{
}

SignalDelivery::~SignalDelivery()
{
    std::lock_guard<std::recursive_mutex> lock(m_guard->mutex);
    m_guard->alive = false;
}

void SignalDelivery::later(std::function<void()> emitSignal)
{
    if (hostState().signalThread == int(HostPlatform::SignalThread::Own)) {
        // Dropped by Qt when the sender goes first.
        QTimer::singleShot(0, m_sender, std::move(emitSignal));
        return;
    }
    std::shared_ptr<Guard> guard = m_guard;
    QMetaObject::invokeMethod(
        workerContext(),
        [guard, emitSignal = std::move(emitSignal)] {
            std::lock_guard<std::recursive_mutex> lock(guard->mutex);
            if (guard->alive)
                emitSignal();
        },
        Qt::QueuedConnection);
}

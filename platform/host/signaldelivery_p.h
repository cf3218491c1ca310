#ifndef SIGNALDELIVERY_P_H
#define SIGNALDELIVERY_P_H

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>

// Delivers a platform object's signals later, the way the real services do:
// queued to the object's own thread, or emitted from a worker thread of the
// platform (HostPlatform::SignalThread). A delivery still pending when its
// object is destroyed is dropped. On the worker thread the signal is emitted
// with the object's guard held, so that the object cannot go meanwhile: a
// receiver connected there directly, or with a blocking queued connection,
// must not wait for a thread that destroys the sender.
class SignalDelivery
{
public:
    explicit SignalDelivery(QObject *sender);
    ~SignalDelivery();

    void later(std::function<void()> emitSignal);

private:
    struct Guard {
        // Recursive: a receiver connected directly may delete the sender from
        // inside the emission, on the worker thread.
        std::recursive_mutex mutex;
        bool alive = true; // under mutex
    };

    QObject *m_sender;
    std::shared_ptr<Guard> m_guard;
};

#endif // SIGNALDELIVERY_P_H

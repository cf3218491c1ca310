#include "servicestatus.h"

#include <servicenotify.h>

#include <checkedclock.h>

#include <atomic>
#include <mutex>

namespace ServiceStatus {

namespace {

struct State {
    std::mutex mutex;
    QString progress = QStringLiteral("starting");   // under mutex
    QString link = QStringLiteral("MCU link not started"); // under mutex
    QString downSince;                                // under mutex; wall time the link went down
    bool everUp = false;                              // under mutex
};

// Local time from the 64-bit clock: a Qt with 32-bit time reads 1970 from 2038 on.
QString localTimeNow()
{
    char text[32] = "an unknown time";
    formatLocalNow("%Y-%m-%d %H:%M:%S", text, sizeof text);
    return QString::fromLatin1(text);
}

State &state()
{
    static State s;
    return s;
}

std::atomic<bool> g_ready{false};

// Caller holds the mutex, so that the lines reach the manager in the order of
// the changes.
void publishLocked()
{
    const QByteArray line = "STATUS=" + (state().progress + QStringLiteral("; ") + state().link).toUtf8();
    ServiceNotify::send(line.constData());
}

void setProgress(const QString &progress)
{
    const std::lock_guard<std::mutex> lock(state().mutex);
    state().progress = progress;
    publishLocked();
}

} // namespace

void starting()
{
    setProgress(QStringLiteral("starting"));
}

void servicesStage(const char *progress)
{
    setProgress(QString::fromLatin1(progress));
}

void startupSummary(const QString &summary)
{
    setProgress(summary);
}

void linkUp()
{
    const std::lock_guard<std::mutex> lock(state().mutex);
    state().everUp = true;
    state().downSince.clear();
    state().link = QStringLiteral("MCU link up");
    publishLocked();
}

void linkDown(unsigned attempts)
{
    const std::lock_guard<std::mutex> lock(state().mutex);
    if (!state().everUp) {
        state().link = attempts == 0 ? QStringLiteral("waiting for the MCU service")
                                     : QStringLiteral("waiting for the MCU service, %1 connection attempts").arg(attempts);
    } else {
        if (state().downSince.isEmpty())
            state().downSince = localTimeNow();
        state().link = QStringLiteral("MCU link down since %1, %2 reconnect attempts").arg(state().downSince).arg(attempts);
    }
    publishLocked();
}

void ready()
{
    if (!g_ready.exchange(true))
        ServiceNotify::send("READY=1");
}

void stopping()
{
    ServiceNotify::send("STOPPING=1");
}

} // namespace ServiceStatus

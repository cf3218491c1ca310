#include <firstframemonitor.h>

#include "hoststate_p.h"
#include "journal.h"
#include "signaldelivery_p.h"

#include <mutex>

using HostJournal::record;

namespace {

struct MonitorRef {
    std::mutex mutex;
    FirstFrameMonitor *instance = nullptr; // under mutex
    int users = 0;                         // under mutex
    SignalDelivery *delivery = nullptr;    // under mutex, lives with instance
};

MonitorRef &monitorRef()
{
    static MonitorRef ref;
    return ref;
}

void emitFlushDone(FirstFrameMonitor *monitor)
{
    record(QStringLiteral("FirstFrameMonitor emits procFlushDone()"));
    emit monitor->procFlushDone();
}

} // namespace

FirstFrameMonitor::FirstFrameMonitor() = default;
FirstFrameMonitor::~FirstFrameMonitor() = default;

FirstFrameMonitor *FirstFrameMonitor::getInstance()
{
    record(QStringLiteral("FirstFrameMonitor::getInstance()"));
    const std::lock_guard<std::mutex> lock(monitorRef().mutex);
    if (!monitorRef().instance) {
        monitorRef().instance = new FirstFrameMonitor;
        monitorRef().delivery = new SignalDelivery(monitorRef().instance);
    }
    ++monitorRef().users;
    return monitorRef().instance;
}

void FirstFrameMonitor::releaseInstance()
{
    record(QStringLiteral("FirstFrameMonitor::releaseInstance()"));
    FirstFrameMonitor *gone = nullptr;
    SignalDelivery *delivery = nullptr;
    {
        const std::lock_guard<std::mutex> lock(monitorRef().mutex);
        if (monitorRef().users == 0)
            return;
        if (--monitorRef().users == 0) {
            gone = monitorRef().instance;
            delivery = monitorRef().delivery;
            monitorRef().instance = nullptr;
            monitorRef().delivery = nullptr;
        }
    }
    delete delivery;
    delete gone;
}

void FirstFrameMonitor::preCheck()
{
    record(QStringLiteral("FirstFrameMonitor::preCheck()"));
    switch (HostPlatform::FirstFrame(hostState().firstFrame.load())) {
    case HostPlatform::FirstFrame::InsidePreCheck:
        emitFlushDone(this);
        break;
    case HostPlatform::FirstFrame::NextTurn: {
        const std::lock_guard<std::mutex> lock(monitorRef().mutex);
        if (monitorRef().delivery)
            monitorRef().delivery->later([this] { emitFlushDone(this); });
        break;
    }
    case HostPlatform::FirstFrame::Never:
        break;
    }
}

namespace HostPlatform {

void showFirstFrame()
{
    FirstFrameMonitor *monitor;
    {
        const std::lock_guard<std::mutex> lock(monitorRef().mutex);
        monitor = monitorRef().instance;
    }
    // Emitted unlocked: a slot may release the monitor. Call it on the thread
    // that releases the monitor, as the tests and the demo do.
    if (monitor)
        emitFlushDone(monitor);
}

} // namespace HostPlatform

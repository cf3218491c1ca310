#include "hostplatform.h"
#include "hoststate_p.h"
#include "journal.h"

#include <mcuframes.h>

#include <QDir>

#include <mutex>

void HostState::resetLocked()
{
    curSource = 0;
    lastSource = 0;
    curAudioSource = 0;
    lastAudioSource = 0;
    // Radio, disc, USB audio and Bluetooth audio switch directly; the rest of
    // the audio sources go through the media framework.
    audioSources = {1, 2, 3, 4, 5, 6, 7, 8};
    directSwitchSources = {1, 2, 3, 4};
    customerVersion = QStringLiteral("HU-CUSTOMER-1.0.3");
    sdkVersion = QStringLiteral("HU-SDK-2.4.1");
    dateVersion = QStringLiteral("20261206.1200");
    lastRecord.clear();
    lastSystemTime = -1;
    audioReady = true;
    appDataAvailable = true;
    platformControlAvailable = true;
    infoModulePresent = true;
    signalThread = int(HostPlatform::SignalThread::Own);
    firstFrame = int(HostPlatform::FirstFrame::NextTurn);
}

HostState &hostState()
{
    static HostState *state = [] {
        auto *s = new HostState; // never destroyed: the reader thread may outlive main()
        s->resetLocked();
        return s;
    }();
    return *state;
}

void keepRecord(const void *record, int size)
{
    const std::lock_guard<std::mutex> lock(hostState().mutex);
    hostState().lastRecord = QByteArray(static_cast<const char *>(record), size);
}

QString describeRecord(const tag_MCUSRV_TO_MAIN_APP_T &frame)
{
    int used = MCU_LONG_DATA_MAX;
    while (used > 0 && frame.data[used - 1] == 0)
        --used;
    return QStringLiteral("kind %1, msg %2, len %3, data %4")
        .arg(frame.kind)
        .arg(frame.msg)
        .arg(frame.len)
        .arg(used ? HostJournal::hex(frame.data, used) : QStringLiteral("-"));
}

namespace HostPlatform {

void reset()
{
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        hostState().resetLocked();
    }
    setVisible(true);
    HostJournal::clear();
}

void setAudioReady(bool ready)
{
    hostState().audioReady = ready;
}

void setAppDataAvailable(bool available)
{
    hostState().appDataAvailable = available;
}

void setPlatformControlAvailable(bool available)
{
    hostState().platformControlAvailable = available;
}

void setVersions(const QString &customer, const QString &sdk, const QString &date)
{
    const std::lock_guard<std::mutex> lock(hostState().mutex);
    hostState().customerVersion = customer;
    hostState().sdkVersion = sdk;
    hostState().dateVersion = date;
}

void setAudioSources(const QList<int> &audio, const QList<int> &directSwitch)
{
    const std::lock_guard<std::mutex> lock(hostState().mutex);
    hostState().audioSources = audio;
    hostState().directSwitchSources = directSwitch;
}

void setInfoModulePresent(bool present)
{
    hostState().infoModulePresent = present;
}

void setSignalThread(SignalThread thread)
{
    hostState().signalThread = int(thread);
}

void setFirstFrame(FirstFrame when)
{
    hostState().firstFrame = int(when);
}

QByteArray lastRecord()
{
    const std::lock_guard<std::mutex> lock(hostState().mutex);
    return hostState().lastRecord;
}

time_t lastSystemTime()
{
    const std::lock_guard<std::mutex> lock(hostState().mutex);
    return hostState().lastSystemTime;
}

} // namespace HostPlatform

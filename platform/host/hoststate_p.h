#ifndef HOSTSTATE_P_H
#define HOSTSTATE_P_H

#include "hostplatform.h"

#include <QList>
#include <QString>

#include <atomic>
#include <mutex>

// State behind the host platform's knobs. Any thread; the plain fields are
// guarded by mutex, the flags read on hot paths are atomic.
struct HostState {
    std::mutex mutex;

    // AppData
    int curSource = 0;
    int lastSource = 0;
    int curAudioSource = 0;
    int lastAudioSource = 0;
    QList<int> audioSources;
    QList<int> directSwitchSources;

    QString customerVersion;
    QString sdkVersion;
    QString dateVersion;

    QByteArray lastRecord;
    time_t lastSystemTime = -1;

    std::atomic<bool> audioReady{true};
    std::atomic<bool> appDataAvailable{true};
    std::atomic<bool> platformControlAvailable{true};
    std::atomic<bool> infoModulePresent{true};
    std::atomic<int> signalThread{int(HostPlatform::SignalThread::Own)};
    std::atomic<int> firstFrame{int(HostPlatform::FirstFrame::NextTurn)};

    void resetLocked();
};

HostState &hostState();

struct tag_MCUSRV_TO_MAIN_APP_T;

// Keeps a whole inbound record for HostPlatform::lastRecord().
void keepRecord(const void *record, int size);
// A record for the journal: its header, and its payload up to the last
// non-zero byte so that the line stays readable.
QString describeRecord(const tag_MCUSRV_TO_MAIN_APP_T &frame);

#endif // HOSTSTATE_P_H

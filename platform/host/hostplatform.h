#ifndef HOSTPLATFORM_H
#define HOSTPLATFORM_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <ctime>

// Knobs of the host platform, for tests, the demo and the simulator. The
// launcher itself never includes this header.
namespace HostPlatform {

// Back to the defaults below and an empty journal.
void reset();

// Application::isApVisible(). Starts true unless HEADUNIT_VISIBLE=0; SIGUSR1
// toggles it while the process runs.
void setVisible(bool visible);
bool isVisible();

void setAudioReady(bool ready);                // AppData::AudioInitOK(), default true
void setAppDataAvailable(bool available);      // AppData::GetInstance() null when false
void setPlatformControlAvailable(bool available);
void setVersions(const QString &customer, const QString &sdk, const QString &date);
void setAudioSources(const QList<int> &audio, const QList<int> &directSwitch);
void setInfoModulePresent(bool present);       // ModuleManager::findModule("info")

// How SvcControl and FirstFrameMonitor deliver their signals.
enum class SignalThread { Own, Worker };        // queued on the object's thread, or emitted from a worker thread
void setSignalThread(SignalThread thread);
enum class FirstFrame { NextTurn, InsidePreCheck, Never };
void setFirstFrame(FirstFrame when);
// Emits procFlushDone() now, as if the first frame had just been shown.
void showFirstFrame();

// The last whole inbound record handed to BaseControl or the ActivityManager
// (268 bytes, or 16 for handleMcuNormalMsg).
QByteArray lastRecord();
// The last time the system clock was asked to take, -1 before any request.
time_t lastSystemTime();
// The settings file the store reads.
QString settingsPath();

} // namespace HostPlatform

#endif // HOSTPLATFORM_H

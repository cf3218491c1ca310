#ifndef STARTUPCHECKPOINTS_H
#define STARTUPCHECKPOINTS_H

#include <QLoggingCategory>

// headunit.startup: the checkpoint table, info.
Q_DECLARE_LOGGING_CATEGORY(lcStartup)

// Where the launcher's start-up time goes: the time since the process was
// created at each step, kept once, reported when every service is up.
namespace StartupCheckpoints {

enum Checkpoint {
    MainEntered,
    ApplicationConstructed,
    SettingsApplied,
    ManagersUp,
    McuConnected,
    ReadySent,
    FirstFrameShown,
    StageZeroStarted,
    StageOneStarted,
    ServicesReady,
    Count
};

// The first time a checkpoint is reached counts; later ones are ignored. Any
// thread; no allocation, a clock read and an atomic store.
void reach(Checkpoint checkpoint);

// Milliseconds since the process was created, -1 while not reached.
double elapsedMs(Checkpoint checkpoint);
const char *name(Checkpoint checkpoint);

// Once, when ServicesReady is reached: the table under headunit.startup and
// a one-line summary for the service manager. Main thread.
void report();

} // namespace StartupCheckpoints

#endif // STARTUPCHECKPOINTS_H

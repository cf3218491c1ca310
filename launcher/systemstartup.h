#ifndef SYSTEMSTARTUP_H
#define SYSTEMSTARTUP_H

#include <QObject>

#include <svccontrol.h>

class SystemStartupPrivate;

// Starts the platform's system services in two stages once the first frame is
// on the screen, tells the module manager how far the start has come, and
// removes itself 5 s after the executor has finished. Main thread only.
class SystemStartup : public QObject
{
    Q_OBJECT

public:
    explicit SystemStartup(QObject *parent = nullptr);
    ~SystemStartup() override;

    // Arms the signal-driven start and returns at once.
    void bgStart();
    // Runs both stages and the stop within the call; not used by the launcher.
    void directStart();

private:
    Q_DISABLE_COPY(SystemStartup)
    Q_DECLARE_PRIVATE_D(m_d, SystemStartup)
    Q_PRIVATE_SLOT(d_func(), void _startupSvcThread())
    Q_PRIVATE_SLOT(d_func(), void _exeSvcFinished())
    Q_PRIVATE_SLOT(d_func(), void _stageReady(SvcControl::ExeStage stage))

    SystemStartupPrivate *m_d;
};

#endif // SYSTEMSTARTUP_H

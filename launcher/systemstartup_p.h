#ifndef SYSTEMSTARTUP_P_H
#define SYSTEMSTARTUP_P_H

#include <svccontrol.h>

class FirstFrameMonitor;
class QTimer;
class SystemStartup;

// Everything here lives and runs on the main thread.
class SystemStartupPrivate
{
public:
    void _startupSvcThread();
    void _exeSvcFinished();
    void _stageReady(SvcControl::ExeStage stage);
    void directStageReady();
    void normalStageReady();

    SystemStartup *m_q = nullptr;
    SvcControl *m_svc = nullptr;            // child of m_q
    FirstFrameMonitor *m_monitor = nullptr; // counted platform instance, released with us
    QTimer *m_timer = nullptr;              // child of m_q, made by bgStart()
};

#endif // SYSTEMSTARTUP_P_H

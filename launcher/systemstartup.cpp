#include "systemstartup.h"
#include "systemstartup_p.h"

#include "servicestatus.h"
#include "startupcheckpoints.h"

#include <firstframemonitor.h>
#include <modulemanager.h>

#include <QTimer>

namespace {

const int RemovalDelayMs = 5000;

// The info module hears that every service is up straight from the executor.
// The caller holds both handles until it returns.
void connectInfoModule(SvcControl *svc, const QSharedPointer<tqappframework::Module> &info)
{
    if (!info.isNull())
        QObject::connect(svc, SIGNAL(finished()), info->object(), SLOT(allServiceReady()));
}

} // namespace

SystemStartup::SystemStartup(QObject *parent)
    : QObject(parent)
    , m_d(new SystemStartupPrivate)
{
    // The executor may signal from its own thread; without the registration
    // the queued stageReady() would be dropped with only a warning.
    qRegisterMetaType<SvcControl::ExeStage>("SvcControl::ExeStage");
    m_d->m_q = this;
    m_d->m_monitor = FirstFrameMonitor::getInstance();
    m_d->m_svc = new SvcControl(this);
}

SystemStartup::~SystemStartup()
{
    if (m_d) {
        if (m_d->m_monitor) {
            FirstFrameMonitor::releaseInstance();
            m_d->m_monitor = nullptr;
        }
        delete m_d;
        m_d = nullptr;
    }
}

void SystemStartup::bgStart()
{
    Q_D(SystemStartup);
    QSharedPointer<tqappframework::ModuleManager> manager = tqappframework::ModuleManager::self();
    QSharedPointer<tqappframework::Module> info = manager->findModule(QStringLiteral("info"));
    // The info module's connection comes first, so allServiceReady() runs
    // before _exeSvcFinished() on the same finished().
    connectInfoModule(d->m_svc, info);
    connect(d->m_svc, SIGNAL(stageReady(SvcControl::ExeStage)), this, SLOT(_stageReady(SvcControl::ExeStage)));
    connect(d->m_svc, SIGNAL(finished()), this, SLOT(_exeSvcFinished()));
    // Connected before preCheck(): the monitor may report the first frame from
    // inside it.
    connect(d->m_monitor, SIGNAL(procFlushDone()), this, SLOT(_startupSvcThread()));
    d->m_monitor->preCheck();

    d->m_timer = new QTimer(this);
    // A coarse timer may fire up to 5 % early; the removal must never come
    // before its 5000 ms.
    d->m_timer->setTimerType(Qt::PreciseTimer);
    connect(d->m_timer, SIGNAL(timeout()), this, SLOT(deleteLater()));
}

void SystemStartup::directStart()
{
    Q_D(SystemStartup);
    QSharedPointer<tqappframework::ModuleManager> manager = tqappframework::ModuleManager::self();
    QSharedPointer<tqappframework::Module> info = manager->findModule(QStringLiteral("info"));
    connectInfoModule(d->m_svc, info);
    d->m_svc->exeStage(SvcControl::ExeStageFirst, true);
    manager->stageDone(false);
    d->m_svc->exeStage(SvcControl::ExeStageSecond, true);
    d->m_svc->stop(false);
    manager->stageDone(false);
    deleteLater();
}

void SystemStartupPrivate::_startupSvcThread()
{
    StartupCheckpoints::reach(StartupCheckpoints::FirstFrameShown);
    m_svc->exeStage(SvcControl::ExeStageFirst, false);
    StartupCheckpoints::reach(StartupCheckpoints::StageZeroStarted);
    ServiceStatus::servicesStage("stage 0 started");
}

void SystemStartupPrivate::_stageReady(SvcControl::ExeStage stage)
{
    switch (stage) {
    case SvcControl::ExeStageFirst:
        directStageReady();
        break;
    case SvcControl::ExeStageSecond:
        normalStageReady();
        break;
    default:
        break;
    }
}

void SystemStartupPrivate::directStageReady()
{
    QSharedPointer<tqappframework::ModuleManager> manager = tqappframework::ModuleManager::self();
    manager->setStartupLevel(1);
    manager->stageDone(true);
    m_svc->exeStage(SvcControl::ExeStageSecond, false);
    StartupCheckpoints::reach(StartupCheckpoints::StageOneStarted);
    ServiceStatus::servicesStage("stage 1 started");
}

void SystemStartupPrivate::normalStageReady()
{
    QSharedPointer<tqappframework::ModuleManager> manager = tqappframework::ModuleManager::self();
    manager->setStartupLevel(2);
    manager->stageDone(true);
    m_svc->stop(false);
}

void SystemStartupPrivate::_exeSvcFinished()
{
    // Late executor signals must reach nobody, the info module included.
    QObject::disconnect(m_svc, nullptr, nullptr, nullptr);
    StartupCheckpoints::reach(StartupCheckpoints::ServicesReady);
    ServiceStatus::servicesStage("all services ready");
    StartupCheckpoints::report();
    if (m_timer) {
        m_timer->setSingleShot(true);
        m_timer->start(RemovalDelayMs);
    }
}

#include "moc_systemstartup.cpp"

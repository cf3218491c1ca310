#include "mainstart.h"

#include "mainappprotocolcomm.h"
#include "servicestatus.h"
#include "startupcheckpoints.h"
#include "sysconfig.h"
#include "systemstartup.h"

#include <activitymanager.h>
#include <implicitrulemanager.h>
#include <modulemanager.h>

#include <QDebug>

namespace {
const char UiVariant[] = "UI_VESKAR_RDS_1024_600";
}

MainStart::MainStart()
{
    qDebug("---%s---", __FUNCTION__);
}

MainStart::~MainStart()
{
    qDebug("%s ", "~MainStart");
}

// The order carries the dependencies: settings before any manager exists,
// managers before the link, the link up before the framework gets it and the
// MCU hears "ready", and the services only after that.
void MainStart::start()
{
    qDebug("%s", __FUNCTION__);

    SysConfig config;
    config.exeDisConfig();
    StartupCheckpoints::reach(StartupCheckpoints::SettingsApplied);

    tqappframework::ImplicitRuleManager::self();
    QSharedPointer<tqappframework::ModuleManager> moduleManager = tqappframework::ModuleManager::self();
    tqappframework::ActivityManager::self();
    StartupCheckpoints::reach(StartupCheckpoints::ManagersUp);

    tqappframework::MainAppProtocolComm *link = tqappframework::MainAppProtocolComm::GetInstance();
    link->Start();
    tqappframework::ModuleManager::initModule(link);
    link->AppReady();

    // Deletes itself once the services are up.
    auto *startup = new SystemStartup(nullptr);
    startup->bgStart();

    qDebug("UI is %s \n", UiVariant);
    // Ready whether or not the MCU service is there yet: the ready frame waits
    // in the link for its first connection, and what the link does is told by
    // the status. Units ordered after the launcher need not wait for a
    // service that a restart of the launcher cannot bring.
    ServiceStatus::ready();
}

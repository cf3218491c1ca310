#include <activitymanager.h>

#include "hoststate_p.h"
#include "journal.h"

using HostJournal::record;

namespace tqappframework {

ActivityManager::ActivityManager()
{
    record(QStringLiteral("ActivityManager created"));
}

ActivityManager::~ActivityManager() = default;

QSharedPointer<ActivityManager> ActivityManager::self()
{
    // Never destroyed: the MCU reader thread may still forward a frame while
    // the process exits.
    static auto *instance = new QSharedPointer<ActivityManager>(new ActivityManager);
    return *instance;
}

void ActivityManager::handleMcuCommand(int command)
{
    record(QStringLiteral("ActivityManager::handleMcuCommand(%1)").arg(command));
}

void ActivityManager::handleMcuNormalMsg(MCU_NORMAL_MSG_T msg)
{
    keepRecord(&msg, sizeof msg);
    record(QStringLiteral("ActivityManager::handleMcuNormalMsg(kind %1, msg %2, p1 %3, p2 %4)").arg(msg.kind).arg(msg.msg).arg(msg.p1).arg(msg.p2));
}

void ActivityManager::handleMcuFrame(tag_MCUSRV_TO_MAIN_APP_T frame)
{
    keepRecord(&frame, sizeof frame);
    record(QStringLiteral("ActivityManager::handleMcuFrame(%1)").arg(describeRecord(frame)));
}

} // namespace tqappframework

#ifndef ACTIVITYMANAGER_H
#define ACTIVITYMANAGER_H

#include <QSharedPointer>

#include <mcuframes.h>

namespace tqappframework {

// Process-wide activity manager. The MCU dispatcher calls it from the MCU
// reader thread.
class ActivityManager
{
public:
    static QSharedPointer<ActivityManager> self();
    virtual ~ActivityManager();

    virtual void handleMcuCommand(int command);
    virtual void handleMcuNormalMsg(MCU_NORMAL_MSG_T msg);
    virtual void handleMcuFrame(tag_MCUSRV_TO_MAIN_APP_T frame);

protected:
    ActivityManager();
};

} // namespace tqappframework

#endif // ACTIVITYMANAGER_H

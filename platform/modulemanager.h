#ifndef MODULEMANAGER_H
#define MODULEMANAGER_H

#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include "module.h"

namespace tqappframework {

class MainAppProtocolComm;

class ModuleManager
{
public:
    static QSharedPointer<ModuleManager> self();

    // Hands the framework the started MCU link; its libraries then send
    // through the link's exported operations.
    static void initModule(MainAppProtocolComm *link);

    virtual ~ModuleManager();

    // A null handle when there is no module of that name.
    virtual QSharedPointer<Module> findModule(const QString &name);
    virtual QStringList moduleNames() const;
    virtual void stageDone(bool flag);
    virtual void setStartupLevel(int level);

protected:
    ModuleManager();
};

} // namespace tqappframework

#endif // MODULEMANAGER_H

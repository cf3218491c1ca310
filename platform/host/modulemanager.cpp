#include <modulemanager.h>

#include "hoststate_p.h"
#include "infomodule_p.h"
#include "journal.h"

#include <QObject>

using HostJournal::arg;
using HostJournal::record;

void InfoModule::allServiceReady()
{
    record(QStringLiteral("InfoModule::allServiceReady()"));
}

namespace tqappframework {

Module::Module(const QString &name, QObject *object)
    : m_name(name)
    , m_object(object)
{
}

Module::~Module() = default;

QString Module::name() const
{
    return m_name;
}

QObject *Module::object() const
{
    return m_object;
}

ModuleManager::ModuleManager()
{
    record(QStringLiteral("ModuleManager created"));
}

ModuleManager::~ModuleManager() = default;

QSharedPointer<ModuleManager> ModuleManager::self()
{
    static auto *instance = new QSharedPointer<ModuleManager>(new ModuleManager);
    return *instance;
}

void ModuleManager::initModule(MainAppProtocolComm *link)
{
    record(QStringLiteral("ModuleManager::initModule(%1)").arg(link ? QStringLiteral("link") : QStringLiteral("null")));
}

QSharedPointer<Module> ModuleManager::findModule(const QString &name)
{
    // Lives on the thread that first asks, the main thread.
    static auto *info = new InfoModule;
    QSharedPointer<Module> module;
    if (name == QLatin1String("info") && hostState().infoModulePresent)
        module.reset(new Module(name, info));
    record(QStringLiteral("ModuleManager::findModule(%1) = %2").arg(arg(name), module ? QStringLiteral("module") : QStringLiteral("null")));
    return module;
}

QStringList ModuleManager::moduleNames() const
{
    return hostState().infoModulePresent ? QStringList{QStringLiteral("info")} : QStringList{};
}

void ModuleManager::stageDone(bool flag)
{
    record(QStringLiteral("ModuleManager::stageDone(%1)").arg(arg(flag)));
}

void ModuleManager::setStartupLevel(int level)
{
    record(QStringLiteral("ModuleManager::setStartupLevel(%1)").arg(level));
}

} // namespace tqappframework

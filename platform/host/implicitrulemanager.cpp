#include <implicitrulemanager.h>

#include "journal.h"

namespace tqappframework {

ImplicitRuleManager::ImplicitRuleManager()
{
    HostJournal::record(QStringLiteral("ImplicitRuleManager created"));
}

ImplicitRuleManager::~ImplicitRuleManager() = default;

QSharedPointer<ImplicitRuleManager> ImplicitRuleManager::self()
{
    static auto *instance = new QSharedPointer<ImplicitRuleManager>(new ImplicitRuleManager);
    return *instance;
}

} // namespace tqappframework

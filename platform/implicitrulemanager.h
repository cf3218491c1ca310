#ifndef IMPLICITRULEMANAGER_H
#define IMPLICITRULEMANAGER_H

#include <QSharedPointer>

namespace tqappframework {

class ImplicitRuleManager
{
public:
    static QSharedPointer<ImplicitRuleManager> self();
    virtual ~ImplicitRuleManager();

protected:
    ImplicitRuleManager();
};

} // namespace tqappframework

#endif // IMPLICITRULEMANAGER_H

#include <uimanager.h>

#include "journal.h"

namespace tqappframework {

void UIManager::setRightDrive(bool rightDrive, bool flag)
{
    HostJournal::record(QStringLiteral("UIManager::setRightDrive(%1, %2)").arg(HostJournal::arg(rightDrive), HostJournal::arg(flag)));
}

} // namespace tqappframework

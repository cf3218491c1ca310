#include <syslanguage.h>

#include "journal.h"

void SysLanguage::exeLanguage(QString code)
{
    HostJournal::record(QStringLiteral("SysLanguage::exeLanguage(%1)").arg(HostJournal::arg(code)));
}

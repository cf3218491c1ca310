#ifndef SYSLANGUAGE_H
#define SYSLANGUAGE_H

#include <QString>

class SysLanguage
{
public:
    // code is one of the system's two-letter language codes.
    static void exeLanguage(QString code);
};

#endif // SYSLANGUAGE_H

#ifndef SETUPSTRIDCONST_H
#define SETUPSTRIDCONST_H

#include <QString>

// Keys of the settings store. Some double as phone-link identifiers: the value
// saved under setupAndroidDevice or setupAppleDevice equals one of them.
class SetupStrIdConst
{
public:
    static const QString setupRightDrive;
    static const QString setupAndroidDevice;
    static const QString setupAppleDevice;
    static const QString setupCarlifeDevice;
    static const QString setupWebLinkDevice;
    static const QString setupCarplay;
    static const QString setupIpod;
    static const QString setupiOSMirror;
    static const QString setupAndroidAuto;
    static const QString setupAutoLink;
    static const QString setupSysLang;
    static const QString setupSyncRdsTime;
    static const QString setupSysBeep;
    static const QString setupAlterVolume;
};

#endif // SETUPSTRIDCONST_H

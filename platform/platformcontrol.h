#ifndef PLATFORMCONTROL_H
#define PLATFORMCONTROL_H

#include <QString>

class PlatformControl
{
public:
    // May be null while the platform service is not up.
    static PlatformControl *getInstance();

    QString getCustomerVer();
    QString getSDKVer();
    void setMcuVersion(const QString &version);

private:
    PlatformControl();
};

#endif // PLATFORMCONTROL_H

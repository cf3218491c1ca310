#ifndef SYSCONFIG_H
#define SYSCONFIG_H

#include <QString>

// Applies the user's saved settings to the platform once, while the launcher
// starts. Constructing it initialises the settings store; it keeps no state and
// never writes a setting. Main thread only.
class SysConfig
{
public:
    SysConfig();
    ~SysConfig();

    // Language first, then the driving side: the UI lays itself out in the
    // language it already has.
    void exeDisConfig();
    void exeLayout();
    void exeLanguage();

    // Chooses the phone-link modes of the USB service and starts it. Not part of
    // exeDisConfig(); for a caller that wants the modes applied.
    void exeUsbSetting();
    void exeAppleDevice(QString identifier);
    void exeAndroidDevice(QString identifier);

private:
    Q_DISABLE_COPY(SysConfig)
};

#endif // SYSCONFIG_H

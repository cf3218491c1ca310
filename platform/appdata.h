#ifndef APPDATA_H
#define APPDATA_H

#include <QString>

// Application state shared by the platform's components. Called from the main
// thread and from the MCU reader thread.
class AppData
{
public:
    static AppData *GetInstance();

    int curSource();
    void setLastSource(int source);
    void setCurSource(int source);
    bool isAudioSource(int source);
    void setIsFirstRun(bool firstRun);
    bool isDirectSwitchAudioSrc(int source);
    int curAudioSource();
    void setLastAudioSource(int source);
    void setCurAudioSource(int source);

    void setMcuType(short type);
    void setTunerType(short type);
    void setUUID(QString uuid);
    void setMcuTimeSynced(bool synced);

    bool AudioInitOK();

private:
    AppData();
};

#endif // APPDATA_H

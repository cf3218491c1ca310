#include <appdata.h>

#include "hoststate_p.h"
#include "journal.h"

#include <mutex>

using HostJournal::arg;
using HostJournal::record;

AppData::AppData() = default;

AppData *AppData::GetInstance()
{
    static AppData instance;
    return hostState().appDataAvailable ? &instance : nullptr;
}

int AppData::curSource()
{
    int source;
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        source = hostState().curSource;
    }
    record(QStringLiteral("AppData::curSource() = %1").arg(source));
    return source;
}

void AppData::setLastSource(int source)
{
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        hostState().lastSource = source;
    }
    record(QStringLiteral("AppData::setLastSource(%1)").arg(source));
}

void AppData::setCurSource(int source)
{
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        hostState().curSource = source;
    }
    record(QStringLiteral("AppData::setCurSource(%1)").arg(source));
}

bool AppData::isAudioSource(int source)
{
    bool audio;
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        audio = hostState().audioSources.contains(source);
    }
    record(QStringLiteral("AppData::isAudioSource(%1) = %2").arg(source).arg(arg(audio)));
    return audio;
}

void AppData::setIsFirstRun(bool firstRun)
{
    record(QStringLiteral("AppData::setIsFirstRun(%1)").arg(arg(firstRun)));
}

bool AppData::isDirectSwitchAudioSrc(int source)
{
    bool direct;
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        direct = hostState().directSwitchSources.contains(source);
    }
    record(QStringLiteral("AppData::isDirectSwitchAudioSrc(%1) = %2").arg(source).arg(arg(direct)));
    return direct;
}

int AppData::curAudioSource()
{
    int source;
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        source = hostState().curAudioSource;
    }
    record(QStringLiteral("AppData::curAudioSource() = %1").arg(source));
    return source;
}

void AppData::setLastAudioSource(int source)
{
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        hostState().lastAudioSource = source;
    }
    record(QStringLiteral("AppData::setLastAudioSource(%1)").arg(source));
}

void AppData::setCurAudioSource(int source)
{
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        hostState().curAudioSource = source;
    }
    record(QStringLiteral("AppData::setCurAudioSource(%1)").arg(source));
}

void AppData::setMcuType(short type)
{
    record(QStringLiteral("AppData::setMcuType(%1)").arg(type));
}

void AppData::setTunerType(short type)
{
    record(QStringLiteral("AppData::setTunerType(%1)").arg(type));
}

void AppData::setUUID(QString uuid)
{
    record(QStringLiteral("AppData::setUUID(%1)").arg(arg(uuid)));
}

void AppData::setMcuTimeSynced(bool synced)
{
    record(QStringLiteral("AppData::setMcuTimeSynced(%1)").arg(arg(synced)));
}

bool AppData::AudioInitOK()
{
    const bool ready = hostState().audioReady;
    record(QStringLiteral("AppData::AudioInitOK() = %1").arg(arg(ready)));
    return ready;
}

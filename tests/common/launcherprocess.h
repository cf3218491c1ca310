#ifndef LAUNCHERPROCESS_H
#define LAUNCHERPROCESS_H

// For the tests that run the launcher process (launcher_e2e): its environment
// on a run's own names and files, its first frame on a connection, and the
// warnings in what it printed. Test thread only.

#include "mcutestframes.h"
#include "testmessages.h"
#include "unixpeer.h"

#include <QProcessEnvironment>
#include <QStringList>

// Settings and state under dir, every logging category on, and Qt's own
// format but with warnings marked, which it does not tell apart.
inline QProcessEnvironment launcherEnvironment(const QString &dir, const unixpeer::Names &names)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HEADUNIT_SETTINGS"), dir + QStringLiteral("/settings.ini"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir + QStringLiteral("/state"));
    env.insert(QStringLiteral("HEADUNIT_TEST_MCU_NAME"), QString::fromStdString(names.name));
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{if-warning}[warning] %{endif}%{if-critical}[critical] %{endif}"
                                                                    "%{if-category}%{category}: %{endif}%{message}"));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    return env;
}

// The launcher's next connection once its first frame, "application ready",
// has come on it; -1 when either does not come in time.
inline int acceptReady(const unixpeer::Listener &service, int timeoutMs)
{
    const int fd = service.accept(timeoutMs);
    QByteArray ready(16, '\0');
    if (fd >= 0 && unixpeer::readFull(fd, ready.data(), 16, timeoutMs) && ready == McuTestFrames::normal(12, 17, 2))
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// The lines of output marked as warnings, but the machine's noise.
inline QStringList launcherWarnings(const QString &output)
{
    QStringList warnings;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        const bool marked = line.startsWith(QLatin1String("[warning] ")) || line.startsWith(QLatin1String("[critical] "));
        if (marked && !TestMessages::isEnvironmentNoise(line.section(QLatin1Char(' '), 1)))
            warnings << line;
    }
    return warnings;
}

#endif // LAUNCHERPROCESS_H

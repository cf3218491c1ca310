#ifndef CHILDPROGRAM_H
#define CHILDPROGRAM_H

// Starts a program of this build as a child process. A cross build's programs
// cannot run on the build machine by themselves (no binfmt_misc there), so
// when CTest gives the build's emulator in HEADUNIT_TEST_EMULATOR (its words
// separated by spaces), the child starts through it. Signals sent to the
// child reach the program: the emulator forwards them.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace childprogram {

inline void start(QProcess &process, const QString &program, const QStringList &arguments = {})
{
    QStringList command = qEnvironmentVariable("HEADUNIT_TEST_EMULATOR").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    command << program << arguments;
    process.start(command.takeFirst(), command);
}

} // namespace childprogram

#endif // CHILDPROGRAM_H

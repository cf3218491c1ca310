#ifndef TESTMESSAGES_H
#define TESTMESSAGES_H

// What a Qt test does with Qt's messages. install() goes first in every Qt
// test's initTestCase(), once QtTest's own handler is in place:
//  - An unexpected warning fails the test. Qt reports a broken signature-string
//    connection ("QObject::connect: No such signal ...", "Cannot queue
//    arguments of type ...") only that way. The noise of a machine without a
//    sound server or runtime directory passes.
//  - Whatever the logging rules say, the launcher's debug lines (category
//    "default"), which tests check, are logged, and the journal's copy of the
//    platform calls is not: tests read the journal, and some capture
//    standard output, where QtTest prints.
// Everything else goes on to QtTest.

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include "environmentnoise.h"

namespace TestMessages {

// What any Qt program on such a machine may print (environment-noise.txt,
// which the test scripts read too); no fault of ours. Any thread.
inline bool isEnvironmentNoise(const QString &message)
{
    static const QVector<QRegularExpression> noise = [] {
        QVector<QRegularExpression> patterns;
        for (const QString &line : QString::fromUtf8(EnvironmentNoise).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (!line.startsWith(QLatin1Char('#')))
                patterns << QRegularExpression(QStringLiteral("^(?:%1)").arg(line));
        }
        return patterns;
    }();
    for (const QRegularExpression &pattern : noise) {
        if (pattern.match(message).hasMatch())
            return true;
    }
    return false;
}

struct State {
    QtMessageHandler previous = nullptr;
    QLoggingCategory::CategoryFilter previousFilter = nullptr;
};

inline State &state()
{
    static State s;
    return s;
}

// Any thread.
inline void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    state().previous(type, context, message);
    if ((type != QtWarningMsg && type != QtCriticalMsg) || isEnvironmentNoise(message))
        return;
    const QByteArray failure = "unexpected warning: " + message.toLocal8Bit();
    // QtTest takes failures on the thread that runs the test only; from
    // another thread the test ends here.
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        QTest::qFail(failure.constData(), context.file ? context.file : __FILE__, context.file ? context.line : __LINE__);
    else
        qFatal("%s", failure.constData());
}

// Called for every category as it is created and whenever the rules change.
// The filter before this one is unknown only while this one is installed,
// when the categories still carry its settings.
inline void filter(QLoggingCategory *category)
{
    if (state().previousFilter)
        state().previousFilter(category);
    if (qstrcmp(category->categoryName(), "headunit.platform") == 0)
        category->setEnabled(QtDebugMsg, false);
    else if (qstrcmp(category->categoryName(), "default") == 0)
        category->setEnabled(QtDebugMsg, true);
}

inline void install()
{
    state().previousFilter = QLoggingCategory::installFilter(filter);
    state().previous = qInstallMessageHandler(handle);
}

} // namespace TestMessages

#endif // TESTMESSAGES_H

#include <QtTest>

#include "childprogram.h"
#include "launcherprocess.h"

#include <QTemporaryDir>

#include <unistd.h>

// The real launcher process (the build's test variant, on socket names of this
// run) against an MCU service played by the test.
class tst_Launcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void endToEnd_data();
    void endToEnd();

private:
    // All the launcher wrote so far.
    const QString &output();

    QTemporaryDir m_dir;
    ChildProgram m_launcher;
    QString m_output;
    unixpeer::Names m_names{"launcher"};
    unixpeer::Listener m_mcu{m_names.serviceName};
};

void tst_Launcher::initTestCase()
{
    TestMessages::install();
    QVERIFY(m_dir.isValid());
    QVERIFY(m_mcu.isListening());
    QFile settings(m_dir.filePath(QStringLiteral("settings.ini")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[setup]\nsysLang=3\nrightDrive=true\n");
}

const QString &tst_Launcher::output()
{
    m_output += QString::fromLocal8Bit(m_launcher.readOutput());
    return m_output;
}

void tst_Launcher::endToEnd_data()
{
    QTest::addColumn<int>("stop");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    // On a PC, Ctrl-C ends the launcher as SIGTERM does: through the event loop.
    QTest::newRow("SIGINT") << int(SIGINT);
}

void tst_Launcher::endToEnd()
{
    QFETCH(int, stop);
    m_output.clear();
    const QProcessEnvironment env = launcherEnvironment(m_dir.path(), m_names);
    QVERIFY2(m_launcher.start(QStringLiteral(LAUNCHER_E2E_PATH), {}, env), qPrintable(m_launcher.errorString()));
    const int fd = acceptReady(m_mcu, 10000);
    const auto closeLink = qScopeGuard([fd] { ::close(fd); });
    QVERIFY2(fd >= 0, "the launcher never connected");
    QTRY_VERIFY_WITH_TIMEOUT(output().contains(QStringLiteral("InfoModule::allServiceReady()")), 10000);

    // Start order, as the log shows it: settings before modules, stages in turn.
    const QStringList order = {
        "---MainStart---",
        "read language: \"es\"",
        "UIManager::setRightDrive(true, true)",
        "ModuleManager::initModule(link)",
        "FirstFrameMonitor::preCheck()",
        "SvcControl::exeStage(0, false)", // only once the event loop runs
        "ModuleManager::setStartupLevel(1)",
        "SvcControl::exeStage(1, false)",
        "InfoModule::allServiceReady()",
    };
    int previous = -1;
    for (const QString &line : order) {
        const int at = m_output.indexOf(line);
        QVERIFY2(at > previous, qPrintable(QStringLiteral("out of order or missing: %1\n%2").arg(line, m_output)));
        previous = at;
    }

    // A key press reaches the platform through the running process; the
    // demo scenario has its answers, the capture tests a reconnection.
    QVERIFY(unixpeer::writeFull(fd, McuTestFrames::normal(13078, 5, 1).constData(), 16));
    QTRY_VERIFY_WITH_TIMEOUT(output().contains(QStringLiteral("BaseControl::sendMcuKeyPressedSignal(5, 1)")), 10000);

    // Asked to stop, the event loop returns and main tears down in its order:
    // the start sequence's object goes only then, and exec()'s result is the
    // exit status.
    QVERIFY(!output().contains(QStringLiteral("~MainStart")));
    QVERIFY(m_launcher.signal(stop));
    QVERIFY(m_launcher.waitForExit(5000));
    QCOMPARE(m_launcher.exitCode(), 0);
    QVERIFY(output().indexOf(QStringLiteral("~MainStart ")) > m_output.indexOf(QStringLiteral("BaseControl::sendMcuKeyPressedSignal(5, 1)")));
    // Its output holds no warning but the machine's noise.
    const QStringList warnings = launcherWarnings(m_output);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(tst_Launcher)
#include "tst_launcher.moc"

#include <QtTest>

#include "childprogram.h"
#include "mcutestframes.h"
#include "testmessages.h"
#include "unixpeer.h"

#include <QTemporaryDir>

#include <unistd.h>

using McuTestFrames::normal;

// The real launcher process (the build's test variant, on socket names of this
// run) against an MCU service played by the test.
class tst_Launcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void endToEnd();
    void ctrlCTearsDownInOrder();

private:
    // Drops the connection held, takes the launcher's next one and its first
    // frame, "application ready".
    void acceptReady(const char *failure);
    // All the launcher wrote so far.
    const QString &output();
    // Of this run's names and files, with warnings marked in its output.
    QProcessEnvironment environment() const;

    QTemporaryDir m_dir;
    ChildProgram m_launcher;
    QString m_output;
    unixpeer::Names m_names{"launcher"};
    unixpeer::Listener m_mcu{m_names.serviceName};
    int m_fd = -1;
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

// The launcher's output holds no warning but the machine's noise.
void tst_Launcher::cleanupTestCase()
{
    output();
    m_launcher.kill();
    if (m_fd >= 0)
        ::close(m_fd);
    QStringList warnings;
    for (const QString &line : m_output.split(QLatin1Char('\n'))) {
        const bool marked = line.startsWith(QLatin1String("[warning] ")) || line.startsWith(QLatin1String("[critical] "));
        if (marked && !TestMessages::isEnvironmentNoise(line.section(QLatin1Char(' '), 1)))
            warnings << line;
    }
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

void tst_Launcher::acceptReady(const char *failure)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = m_mcu.accept(10000);
    QVERIFY2(m_fd >= 0, failure);
    QByteArray ready(16, '\0');
    QVERIFY(unixpeer::readFull(m_fd, ready.data(), 16, 5000));
    QCOMPARE(ready, normal(12, 17, 2));
}

QProcessEnvironment tst_Launcher::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HEADUNIT_SETTINGS"), m_dir.filePath(QStringLiteral("settings.ini")));
    env.insert(QStringLiteral("HEADUNIT_TEST_MCU_NAME"), QString::fromStdString(m_names.name));
    // Qt's own format, but with warnings marked, which it does not tell apart.
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{if-warning}[warning] %{endif}%{if-critical}[critical] %{endif}"
                                                                    "%{if-category}%{category}: %{endif}%{message}"));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    return env;
}

const QString &tst_Launcher::output()
{
    m_output += QString::fromLocal8Bit(m_launcher.readOutput());
    return m_output;
}

void tst_Launcher::endToEnd()
{
    QVERIFY2(m_launcher.start(QStringLiteral(LAUNCHER_E2E_PATH), {}, environment()), qPrintable(m_launcher.errorString()));
    acceptReady("the launcher never connected");
    if (QTest::currentTestFailed())
        return;
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

    // A key press and a version query travel through the running process.
    QVERIFY(unixpeer::writeFull(m_fd, normal(13078, 5, 1).constData(), 16));
    QVERIFY(unixpeer::writeFull(m_fd, normal(13080, 0, 0).constData(), 16));
    QByteArray version(264, '\0');
    QVERIFY(unixpeer::readFull(m_fd, version.data(), 264, 5000));
    QCOMPARE(version.left(8), McuTestFrames::word(2) + McuTestFrames::word(205));
    QTRY_VERIFY_WITH_TIMEOUT(output().contains(QStringLiteral("Main app normal msg:13078, p1:5, p2:1.")), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(output().contains(QStringLiteral("BaseControl::sendMcuKeyPressedSignal(5, 1)")), 10000);

    // The MCU service drops the connection: it hears "ready" again.
    acceptReady("the launcher never reconnected");
    QTRY_VERIFY_WITH_TIMEOUT(output().contains(QStringLiteral("Main App invaild datalen:0")), 10000);

    // Asked to stop, the event loop returns and main tears down in its order:
    // the start sequence's object goes only then, and exec()'s result is the
    // exit status.
    QVERIFY(!output().contains(QStringLiteral("~MainStart")));
    QVERIFY(m_launcher.terminate());
    QVERIFY(m_launcher.waitForExit(5000));
    QVERIFY(m_launcher.exitedNormally());
    QCOMPARE(m_launcher.exitCode(), 0);
    QVERIFY(output().indexOf(QStringLiteral("~MainStart ")) > m_output.indexOf(QStringLiteral("BaseControl::sendMcuKeyPressedSignal(5, 1)")));
}

// On a PC, Ctrl-C ends the launcher as SIGTERM does: through the event loop.
void tst_Launcher::ctrlCTearsDownInOrder()
{
    QVERIFY2(m_launcher.start(QStringLiteral(LAUNCHER_E2E_PATH), {}, environment()), qPrintable(m_launcher.errorString()));
    acceptReady("the launcher never connected");
    QVERIFY(m_launcher.signal(SIGINT));
    QVERIFY(m_launcher.waitForExit(5000));
    QCOMPARE(m_launcher.exitCode(), 0);
    const int from = m_output.size();
    QVERIFY(output().indexOf(QStringLiteral("~MainStart "), from) >= 0);
}

QTEST_GUILESS_MAIN(tst_Launcher)
#include "tst_launcher.moc"

#include <QtTest>

#include "childprogram.h"
#include "mcutestframes.h"
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
    void cleanup();
    void startsEndToEnd();
    void restartedMcuServiceHearsReadyAgain();

private:
    // Starts the launcher and takes its connection and first frame, which
    // must be "application ready".
    void startLauncher();
    void acceptReady(const char *failure);
    bool waitForOutput(const QString &line, int timeoutMs = 5000);

    QTemporaryDir m_dir;
    ChildProgram m_launcher;
    QString m_output;
    unixpeer::Names m_names{"launcher"};
    unixpeer::Listener m_mcu{m_names.serviceName};
    int m_fd = -1;
};

void tst_Launcher::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_mcu.isListening());
    QFile settings(m_dir.filePath(QStringLiteral("settings.ini")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[setup]\nsysLang=3\nrightDrive=true\n");
}

void tst_Launcher::cleanup()
{
    m_launcher.kill();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_output.clear();
}

void tst_Launcher::startLauncher()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HEADUNIT_SETTINGS"), m_dir.filePath(QStringLiteral("settings.ini")));
    env.insert(QStringLiteral("HEADUNIT_TEST_MCU_NAME"), QString::fromStdString(m_names.name));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    QVERIFY2(m_launcher.start(QStringLiteral(LAUNCHER_E2E_PATH), {}, env), qPrintable(m_launcher.errorString()));
    acceptReady("the launcher never connected");
}

void tst_Launcher::acceptReady(const char *failure)
{
    m_fd = m_mcu.accept(10000);
    QVERIFY2(m_fd >= 0, failure);
    QByteArray ready(16, '\0');
    QVERIFY(unixpeer::readFull(m_fd, ready.data(), 16, 5000));
    QCOMPARE(ready, normal(12, 17, 2));
}

bool tst_Launcher::waitForOutput(const QString &line, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        m_output += QString::fromLocal8Bit(m_launcher.readOutput());
        if (m_output.contains(line) || deadline.hasExpired())
            break;
        QTest::qWait(10);
    }
    return m_output.contains(line);
}

void tst_Launcher::startsEndToEnd()
{
    startLauncher();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(waitForOutput(QStringLiteral("InfoModule::allServiceReady()")));

    // Start order, as the log shows it.
    const QStringList order = {
        "QApplication===>Application",
        "QT new Launcher start !!",
        "app build:",
        "---MainStart---",
        "\nstart\n",
        "DataSaveControl::initQSettingPath()",
        "read language: \"es\"",
        "SysLanguage::exeLanguage(\"es\")",
        "read right mode: true",
        "UIManager::setRightDrive(true, true)",
        "ImplicitRuleManager created",
        "ModuleManager created",
        "ActivityManager created",
        "ModuleManager::initModule(link)",
        "FirstFrameMonitor::preCheck()",
        "UI is UI_VESKAR_RDS_1024_600",
        "SvcControl::exeStage(0, false)", // only once the event loop runs
        "ModuleManager::setStartupLevel(1)",
        "SvcControl::exeStage(1, false)",
        "ModuleManager::setStartupLevel(2)",
        "SvcControl::stop(false)",
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
    QVERIFY(waitForOutput(QStringLiteral("Main app normal msg:13078, p1:5, p2:1.")));
    QVERIFY(waitForOutput(QStringLiteral("BaseControl::sendMcuKeyPressedSignal(5, 1)")));

    // Asked to stop, the event loop returns and main tears down in its order:
    // the start sequence's object goes only then, and exec()'s result is the
    // exit status.
    QVERIFY(!m_output.contains(QStringLiteral("~MainStart")));
    QVERIFY(m_launcher.terminate());
    QVERIFY(m_launcher.waitForExit(5000));
    m_output += QString::fromLocal8Bit(m_launcher.readOutput());
    QVERIFY(m_launcher.exitedNormally());
    QCOMPARE(m_launcher.exitCode(), 0);
    QVERIFY(m_output.indexOf(QStringLiteral("~MainStart ")) > m_output.indexOf(QStringLiteral("BaseControl::sendMcuKeyPressedSignal(5, 1)")));
}

void tst_Launcher::restartedMcuServiceHearsReadyAgain()
{
    startLauncher();
    // The MCU service goes away and comes back.
    ::close(m_fd);
    acceptReady("the launcher never reconnected");
    QVERIFY(waitForOutput(QStringLiteral("Main App invaild datalen:0")));
}

QTEST_GUILESS_MAIN(tst_Launcher)
#include "tst_launcher.moc"

#include <QtTest>

#include "mcutestframes.h"
#include "unixpeer.h"

#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

using McuTestFrames::normal;

// The real launcher process (the build's test variant, on this build tree's own
// socket names) against an MCU service played by the test.
class tst_Launcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void startsEndToEnd();
    void restartedMcuServiceHearsReadyAgain();

private:
    bool startLauncher();
    int indexOf(const QString &line) const;
    bool waitForOutput(const QString &line, int timeoutMs = 5000);

    QTemporaryDir m_dir;
    QProcess m_launcher;
    QString m_output;
    unixpeer::Listener m_mcu{"@" HEADUNIT_TEST_MCU_NAME};
    int m_fd = -1;
};

void tst_Launcher::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_mcu.isListening(), "another run of this build tree holds the test socket name");
    QFile settings(m_dir.filePath(QStringLiteral("settings.ini")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[setup]\nsysLang=3\nrightDrive=true\n");
}

void tst_Launcher::cleanup()
{
    if (m_launcher.state() != QProcess::NotRunning) {
        m_launcher.kill();
        m_launcher.waitForFinished(5000);
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_output.clear();
}

bool tst_Launcher::startLauncher()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HEADUNIT_SETTINGS"), m_dir.filePath(QStringLiteral("settings.ini")));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    m_launcher.setProcessEnvironment(env);
    m_launcher.setProcessChannelMode(QProcess::MergedChannels);
    connect(&m_launcher, &QProcess::readyRead, this, [this] { m_output += QString::fromLocal8Bit(m_launcher.readAll()); },
            Qt::UniqueConnection);
    m_launcher.start(QStringLiteral(LAUNCHER_E2E_PATH), QStringList());
    return m_launcher.waitForStarted(5000);
}

int tst_Launcher::indexOf(const QString &line) const
{
    return m_output.indexOf(line);
}

bool tst_Launcher::waitForOutput(const QString &line, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (indexOf(line) < 0 && !deadline.hasExpired())
        QTest::qWait(10);
    return indexOf(line) >= 0;
}

void tst_Launcher::startsEndToEnd()
{
    QVERIFY(startLauncher());
    m_fd = m_mcu.accept(10000);
    QVERIFY2(m_fd >= 0, "the launcher never connected");

    // The first thing on the wire is "application ready".
    QByteArray ready(16, '\0');
    QVERIFY(unixpeer::readFull(m_fd, ready.data(), 16, 5000));
    QCOMPARE(ready, normal(12, 17, 2));

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
        const int at = indexOf(line);
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
}

void tst_Launcher::restartedMcuServiceHearsReadyAgain()
{
    QVERIFY(startLauncher());
    m_fd = m_mcu.accept(10000);
    QVERIFY(m_fd >= 0);
    QByteArray frame(16, '\0');
    QVERIFY(unixpeer::readFull(m_fd, frame.data(), 16, 5000));
    QCOMPARE(frame, normal(12, 17, 2));

    // The MCU service goes away and comes back.
    ::close(m_fd);
    m_fd = m_mcu.accept(10000);
    QVERIFY2(m_fd >= 0, "the launcher never reconnected");
    QVERIFY(unixpeer::readFull(m_fd, frame.data(), 16, 5000));
    QCOMPARE(frame, normal(12, 17, 2));
    QVERIFY(waitForOutput(QStringLiteral("Main App invaild datalen:0")));
}

QTEST_GUILESS_MAIN(tst_Launcher)
#include "tst_launcher.moc"

#include <QtTest>

#include <sysconfig.h>

#include <setupstridconst.h>

#include <hostplatform.h>

#include "loglines.h"
#include "testmessages.h"

#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <unistd.h>

// Each row's SysConfig reads a settings file of the row's own; the checks run
// on the launcher's debug lines and the platform calls in their one order.

// Values as the file holds them: text, or a list where a line has commas.
using Settings = QList<QPair<QString, QVariant>>;
Q_DECLARE_METATYPE(Settings)

class tst_SysConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init() { HostPlatform::reset(); }
    void cleanupTestCase() { LogLines::uninstall(); }
    void languageThenDrivingSide_data();
    void languageThenDrivingSide();
    void usbModes_data();
    void usbModes();

private:
    // Saves the settings, makes a SysConfig on them and clears the log (not the journal).
    void configure(const Settings &saved);

    QTemporaryDir m_dir;
    int m_files = 0;
    std::unique_ptr<SysConfig> m_config;
};

void tst_SysConfig::initTestCase()
{
    TestMessages::install();
    QVERIFY(m_dir.isValid());
    LogLines::install();
}

void tst_SysConfig::configure(const Settings &saved)
{
    const QString path = m_dir.filePath(QStringLiteral("settings-%1-%2.ini").arg(getpid()).arg(++m_files));
    QSettings file(path, QSettings::IniFormat);
    for (const auto &entry : saved)
        file.setValue(entry.first, entry.second);
    file.sync();
    QCOMPARE(file.status(), QSettings::NoError);
    qputenv("HEADUNIT_SETTINGS", QFile::encodeName(path));
    m_config.reset(new SysConfig);
    LogLines::clear();
}

void tst_SysConfig::languageThenDrivingSide_data()
{
    QTest::addColumn<Settings>("saved");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("rightDrive");

    const QString lang = SetupStrIdConst::setupSysLang;
    const QString drive = SetupStrIdConst::setupRightDrive;
    // The host's factory index is 1, so a read that dropped the default would
    // fall to "de".
    QTest::newRow("nothing saved") << Settings{} << "en" << "false";
    QTest::newRow("0 is the first code") << Settings{{lang, "0"}} << "de" << "false";
    QTest::newRow("12 is the last code") << Settings{{lang, "12"}} << "sw" << "false";
    QTest::newRow("13 past the end") << Settings{{lang, "13"}} << "de" << "false";
    QTest::newRow("-1") << Settings{{lang, "-1"}} << "de" << "false";
    QTest::newRow("number then text is no number") << Settings{{lang, "2x"}} << "de" << "false";
    QTest::newRow("commas make a list, which is no index") << Settings{{lang, QStringList{"1", "2"}}} << "de" << "false";
    // Saved text converts as QVariant converts it: anything but "", "0" and
    // "false" is true.
    for (const char *text : {"true", "yes", "on", "2"})
        QTest::newRow(qPrintable(QStringLiteral("%1 is right-hand drive").arg(text))) << Settings{{drive, text}} << "en" << "true";
    QTest::newRow("0 is left-hand drive") << Settings{{drive, "0"}} << "en" << "false";
}

void tst_SysConfig::languageThenDrivingSide()
{
    QFETCH(Settings, saved);
    QFETCH(QString, code);
    QFETCH(QString, rightDrive);
    configure(saved);

    m_config->exeDisConfig();

    const QRegularExpression results(QStringLiteral("^(read |SysLanguage::|UIManager::)"));
    QCOMPARE(LogLines::lines().filter(results), (QStringList{QStringLiteral("read language: \"%1\"").arg(code),
                                                             QStringLiteral("SysLanguage::exeLanguage(\"%1\")").arg(code),
                                                             "read right mode: " + rightDrive,
                                                             QStringLiteral("UIManager::setRightDrive(%1, true)").arg(rightDrive)}));
}

void tst_SysConfig::usbModes_data()
{
    QTest::addColumn<Settings>("saved");
    QTest::addColumn<QStringList>("calls");

    const QString android = SetupStrIdConst::setupAndroidDevice;
    const QString apple = SetupStrIdConst::setupAppleDevice;
    const QString carlife = SetupStrIdConst::setupCarlifeDevice;
    const QString webLink = SetupStrIdConst::setupWebLinkDevice;
    const QString autoLink = SetupStrIdConst::setupAutoLink;
    const QString ipod = SetupStrIdConst::setupIpod;
    auto androidMode = [](int mode) { return QStringLiteral("UsbControl::setAndroidDeviceMode(%1)").arg(mode); };
    auto appleMode = [](int mode) { return QStringLiteral("UsbControl::setAppleDeviceMode(%1)").arg(mode); };
    const QString aoaOn = QStringLiteral("UsbControl::configAoaTimeoutAction(true)");
    const QString aoaOff = QStringLiteral("UsbControl::configAoaTimeoutAction(false)");
    const QString startup = QStringLiteral("UsbControl::startup()");

    QTest::newRow("a: weblink wins over carlife and both identifiers")
        << Settings{{webLink, "true"}, {carlife, "true"}, {android, autoLink}, {apple, ipod}}
        << QStringList{androidMode(4), aoaOff, appleMode(4), startup};
    QTest::newRow("b: carlife wins over both identifiers")
        << Settings{{webLink, "false"}, {carlife, "true"}, {android, autoLink}, {apple, ipod}}
        << QStringList{androidMode(2), aoaOn, appleMode(1), startup};
    QTest::newRow("c: autolink and ipod") << Settings{{android, autoLink}, {apple, ipod}}
                                          << QStringList{androidMode(1), aoaOff, appleMode(2), startup};
    QTest::newRow("c: android auto and ios mirror")
        << Settings{{android, SetupStrIdConst::setupAndroidAuto}, {apple, SetupStrIdConst::setupiOSMirror}}
        << QStringList{androidMode(0), aoaOn, appleMode(3), startup};
    QTest::newRow("c: android empty, apple carplay") << Settings{{android, ""}, {apple, SetupStrIdConst::setupCarplay}}
                                                     << QStringList{appleMode(0), startup};
    QTest::newRow("c: letter case differs, so no mode") << Settings{{android, autoLink.toUpper()}, {apple, ipod.toUpper()}}
                                                        << QStringList{aoaOn, startup};
    QTest::newRow("nothing saved: factory android auto and carplay") << Settings{} << QStringList{androidMode(0), aoaOn, appleMode(0), startup};
}

void tst_SysConfig::usbModes()
{
    QFETCH(Settings, saved);
    QFETCH(QStringList, calls);
    configure(saved);

    m_config->exeUsbSetting();

    QStringList usb = LogLines::lines().filter(QStringLiteral("UsbControl::"));
    usb.removeAll(QStringLiteral("UsbControl::getInstance()"));
    QCOMPARE(usb, calls);
}

QTEST_GUILESS_MAIN(tst_SysConfig)
#include "tst_sysconfig.moc"

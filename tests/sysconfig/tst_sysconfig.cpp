#include <QtTest>

#include <sysconfig.h>

#include <datadefault.h>
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
    void language_data();
    void language();
    void languageBeforeDrivingSide_data();
    void languageBeforeDrivingSide();
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

void tst_SysConfig::language_data()
{
    QTest::addColumn<QString>("saved");
    QTest::addColumn<QString>("code");

    QTest::newRow("0 is the first code") << "0" << "de";
    QTest::newRow("12 is the last code") << "12" << "sw";
    QTest::newRow("13 past the end") << "13" << "de";
    QTest::newRow("-1") << "-1" << "de";
    QTest::newRow("number then text is no number") << "2x" << "de";
    QTest::newRow("commas make a list, which is no index") << "1,2" << "de";
    // The host's factory index is 1, so a read that dropped the default would
    // fall to "de".
    QTest::newRow("nothing saved") << QString() << "en";
}

void tst_SysConfig::language()
{
    QFETCH(QString, saved);
    QFETCH(QString, code);
    const QString key = SetupStrIdConst::setupSysLang;
    const QVariant value = saved.contains(QLatin1Char(',')) ? QVariant(saved.split(QLatin1Char(','))) : QVariant(saved);
    configure(saved.isNull() ? Settings{} : Settings{{key, value}});
    const QString factory = DataDefault::getDefault(key).toString();
    LogLines::clear();

    m_config->exeLanguage();

    const QStringList log = LogLines::lines();
    // The factory index goes to the store as text, with an empty third argument.
    const QString read = QStringLiteral("DataSaveControl::readSettingData(%1, \"%2\", \"\")").arg(key, factory);
    QVERIFY2(log.at(1).startsWith(read), qPrintable(log.at(1)));
    QCOMPARE(log.mid(2), (QStringList{QStringLiteral("read language: \"%1\"").arg(code),
                                      QStringLiteral("SysLanguage::exeLanguage(\"%1\")").arg(code)}));
}

void tst_SysConfig::languageBeforeDrivingSide_data()
{
    QTest::addColumn<Settings>("saved");
    QTest::addColumn<QString>("rightDrive");

    QTest::newRow("nothing saved is left-hand drive") << Settings{} << "false";
    // Saved text converts as QVariant converts it: anything but "", "0" and
    // "false" is true.
    for (const char *text : {"true", "yes", "on", "2"})
        QTest::newRow(qPrintable(QStringLiteral("%1 is right-hand drive").arg(text)))
            << Settings{{SetupStrIdConst::setupRightDrive, text}} << "true";
    QTest::newRow("0 is left-hand drive") << Settings{{SetupStrIdConst::setupRightDrive, "0"}} << "false";
}

void tst_SysConfig::languageBeforeDrivingSide()
{
    QFETCH(Settings, saved);
    QFETCH(QString, rightDrive);
    configure(saved);

    m_config->exeDisConfig();

    const QStringList log = LogLines::lines();
    QCOMPARE(log.size(), 7);
    QVERIFY(log.at(3).startsWith(QLatin1String("SysLanguage::exeLanguage(")));
    // The driving side is not asked of the factory table: its default is a plain false.
    const QString read = QStringLiteral("DataSaveControl::readSettingData(%1, false, \"\")").arg(SetupStrIdConst::setupRightDrive);
    QVERIFY2(log.at(4).startsWith(read), qPrintable(log.at(4)));
    QCOMPARE(log.mid(5), (QStringList{"read right mode: " + rightDrive, QStringLiteral("UIManager::setRightDrive(%1, true)").arg(rightDrive)}));
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
    QTest::newRow("a: weblink on") << Settings{{webLink, "on"}} << QStringList{androidMode(4), aoaOff, appleMode(4), startup};
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

    const QStringList log = LogLines::lines();
    QStringList usb = log.filter(QStringLiteral("UsbControl::"));
    usb.removeAll(QStringLiteral("UsbControl::getInstance()"));
    QCOMPARE(usb, calls);

    // All four settings are read before the first call on the USB service.
    const QStringList reads = log.filter(QStringLiteral("DataSaveControl::readSettingData("));
    QCOMPARE(reads.size(), 4);
    QVERIFY(log.indexOf(reads.last()) < log.indexOf(calls.first()));
}

QTEST_GUILESS_MAIN(tst_SysConfig)
#include "tst_sysconfig.moc"

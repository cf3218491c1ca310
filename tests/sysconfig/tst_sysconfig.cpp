#include <QtTest>

#include <sysconfig.h>

#include <datadefault.h>
#include <setupstridconst.h>

#include <hostplatform.h>
#include <journal.h>

#include <QSettings>
#include <QTemporaryDir>

#include <unistd.h>

using Settings = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(Settings)

namespace {

// The launcher's own debug lines, each with the journal's length at the time,
// so that their order against the platform calls can be checked.
struct LogLine {
    QString text;
    int journalSize;
};
QList<LogLine> g_log;
QtMessageHandler g_previousHandler = nullptr;

void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && qstrcmp(context.category, "default") == 0)
        g_log.append({message, HostJournal::lines().size()});
    g_previousHandler(type, context, message);
}

QStringList journalWith(const QString &prefix)
{
    QStringList found;
    for (const QString &line : HostJournal::lines()) {
        if (line.startsWith(prefix))
            found.append(line);
    }
    return found;
}

} // namespace

class tst_SysConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void constructorInitialisesStore();
    void language_data();
    void language();
    void languageBeforeDrivingSide_data();
    void languageBeforeDrivingSide();
    void usbModes_data();
    void usbModes();

private:
    // A settings file of this row's own, taken up by the next SysConfig.
    void useSettings(const Settings &saved);
    void startRecording();

    QTemporaryDir m_dir;
    int m_files = 0;
};

void tst_SysConfig::initTestCase()
{
    QVERIFY(m_dir.isValid());
    g_previousHandler = qInstallMessageHandler(captureLog);
}

void tst_SysConfig::cleanupTestCase()
{
    qInstallMessageHandler(g_previousHandler);
}

void tst_SysConfig::init()
{
    HostPlatform::reset();
}

void tst_SysConfig::useSettings(const Settings &saved)
{
    const QString path = m_dir.filePath(QStringLiteral("settings-%1-%2.ini").arg(getpid()).arg(++m_files));
    QSettings file(path, QSettings::IniFormat);
    for (const auto &entry : saved)
        file.setValue(entry.first, entry.second);
    file.sync();
    QCOMPARE(file.status(), QSettings::NoError);
    qputenv("HEADUNIT_SETTINGS", QFile::encodeName(path));
}

void tst_SysConfig::startRecording()
{
    HostJournal::clear();
    g_log.clear();
}

void tst_SysConfig::constructorInitialisesStore()
{
    useSettings(Settings{});
    startRecording();
    SysConfig config;
    QCOMPARE(HostJournal::lines().size(), 2);
    QVERIFY(HostJournal::lines().at(0).startsWith(QLatin1String("DataSaveControl::initQSettingPath()")));
    QCOMPARE(HostJournal::lines().at(1), QStringLiteral("DataDefault::initDataDefault()"));
}

void tst_SysConfig::language_data()
{
    QTest::addColumn<Settings>("saved");
    QTest::addColumn<QString>("code");

    const QString key = SetupStrIdConst::setupSysLang;
    QTest::newRow("0 is the first code") << Settings{{key, "0"}} << "de";
    QTest::newRow("1") << Settings{{key, "1"}} << "en";
    QTest::newRow("6 is not normalised") << Settings{{key, "6"}} << "cz";
    QTest::newRow("12 is the last code") << Settings{{key, "12"}} << "sw";
    QTest::newRow("13 past the end") << Settings{{key, "13"}} << "de";
    QTest::newRow("-1") << Settings{{key, "-1"}} << "de";
    QTest::newRow("empty text") << Settings{{key, ""}} << "de";
    QTest::newRow("not a number") << Settings{{key, "en"}} << "de";
    QTest::newRow("number then text") << Settings{{key, "2x"}} << "de";
    // The host's factory index is 1, so a read that dropped the default would
    // fall to "de".
    QTest::newRow("nothing saved") << Settings{} << "en";
}

void tst_SysConfig::language()
{
    QFETCH(Settings, saved);
    QFETCH(QString, code);
    useSettings(saved);
    SysConfig config;
    const QString key = SetupStrIdConst::setupSysLang;
    const QString factory = DataDefault::getDefault(key).toString();
    startRecording();

    config.exeLanguage();

    const QStringList journal = HostJournal::lines();
    QCOMPARE(journal.size(), 3);
    QVERIFY(journal.at(0).startsWith(QStringLiteral("DataDefault::getDefault(%1)").arg(key)));
    // The factory index goes to the store as text, with an empty third argument.
    const QString read = QStringLiteral("DataSaveControl::readSettingData(%1, \"%2\", \"\")").arg(key, factory);
    QVERIFY2(journal.at(1).startsWith(read), qPrintable(journal.at(1)));
    QCOMPARE(journal.at(2), QStringLiteral("SysLanguage::exeLanguage(\"%1\")").arg(code));

    QCOMPARE(g_log.size(), 1);
    QCOMPARE(g_log.at(0).text, QStringLiteral("read language: \"%1\"").arg(code));
    QCOMPARE(g_log.at(0).journalSize, 2);
}

void tst_SysConfig::languageBeforeDrivingSide_data()
{
    QTest::addColumn<Settings>("saved");
    QTest::addColumn<bool>("rightDrive");

    const QString key = SetupStrIdConst::setupRightDrive;
    QTest::newRow("nothing saved is left-hand drive") << Settings{} << false;
    QTest::newRow("right-hand drive") << Settings{{key, "true"}} << true;
    QTest::newRow("left-hand drive saved") << Settings{{key, "false"}} << false;
}

void tst_SysConfig::languageBeforeDrivingSide()
{
    QFETCH(Settings, saved);
    QFETCH(bool, rightDrive);
    useSettings(saved);
    SysConfig config;
    startRecording();

    config.exeDisConfig();

    const QString flag = rightDrive ? QStringLiteral("true") : QStringLiteral("false");
    const QStringList journal = HostJournal::lines();
    QCOMPARE(journal.size(), 5);
    QVERIFY(journal.at(2).startsWith(QLatin1String("SysLanguage::exeLanguage(")));
    // The driving side is not asked of the factory table: its default is a plain false.
    const QString read = QStringLiteral("DataSaveControl::readSettingData(%1, false, \"\")").arg(SetupStrIdConst::setupRightDrive);
    QVERIFY2(journal.at(3).startsWith(read), qPrintable(journal.at(3)));
    QCOMPARE(journal.at(4), QStringLiteral("UIManager::setRightDrive(%1, true)").arg(flag));

    QCOMPARE(g_log.size(), 2);
    QVERIFY(g_log.at(0).text.startsWith(QLatin1String("read language: ")));
    QCOMPARE(g_log.at(1).text, QStringLiteral("read right mode: %1").arg(flag));
    QCOMPARE(g_log.at(1).journalSize, 4);
}

void tst_SysConfig::usbModes_data()
{
    QTest::addColumn<Settings>("saved");
    QTest::addColumn<QStringList>("calls");

    const QString android = SetupStrIdConst::setupAndroidDevice;
    const QString apple = SetupStrIdConst::setupAppleDevice;
    const QString carlife = SetupStrIdConst::setupCarlifeDevice;
    const QString webLink = SetupStrIdConst::setupWebLinkDevice;
    auto androidMode = [](int mode) { return QStringLiteral("UsbControl::setAndroidDeviceMode(%1)").arg(mode); };
    auto appleMode = [](int mode) { return QStringLiteral("UsbControl::setAppleDeviceMode(%1)").arg(mode); };
    const QString aoaOn = QStringLiteral("UsbControl::configAoaTimeoutAction(true)");
    const QString aoaOff = QStringLiteral("UsbControl::configAoaTimeoutAction(false)");
    const QString startup = QStringLiteral("UsbControl::startup()");

    QTest::newRow("a: weblink wins over carlife and both identifiers")
        << Settings{{webLink, "true"}, {carlife, "true"},
                    {android, SetupStrIdConst::setupAutoLink}, {apple, SetupStrIdConst::setupIpod}}
        << QStringList{androidMode(4), aoaOff, appleMode(4), startup};
    QTest::newRow("b: carlife wins over both identifiers")
        << Settings{{webLink, "false"}, {carlife, "true"},
                    {android, SetupStrIdConst::setupAutoLink}, {apple, SetupStrIdConst::setupIpod}}
        << QStringList{androidMode(2), aoaOn, appleMode(1), startup};
    QTest::newRow("c: autolink and ipod")
        << Settings{{android, SetupStrIdConst::setupAutoLink}, {apple, SetupStrIdConst::setupIpod}}
        << QStringList{androidMode(1), aoaOff, appleMode(2), startup};
    QTest::newRow("c: android auto and ios mirror")
        << Settings{{android, SetupStrIdConst::setupAndroidAuto}, {apple, SetupStrIdConst::setupiOSMirror}}
        << QStringList{androidMode(0), aoaOn, appleMode(3), startup};
    QTest::newRow("c: identifiers carlife and weblink with switches off")
        << Settings{{android, carlife}, {apple, webLink}}
        << QStringList{androidMode(2), aoaOn, appleMode(4), startup};
    QTest::newRow("c: identifiers weblink and carlife with switches off")
        << Settings{{android, webLink}, {apple, carlife}}
        << QStringList{androidMode(4), aoaOff, appleMode(1), startup};
    QTest::newRow("c: both empty")
        << Settings{{android, ""}, {apple, ""}} << QStringList{startup};
    QTest::newRow("c: android empty, apple carplay")
        << Settings{{android, ""}, {apple, SetupStrIdConst::setupCarplay}}
        << QStringList{appleMode(0), startup};
    QTest::newRow("c: android carplay sets no mode")
        << Settings{{android, SetupStrIdConst::setupCarplay}, {apple, ""}}
        << QStringList{aoaOn, startup};
    QTest::newRow("c: apple android auto or autolink are no apple modes")
        << Settings{{android, SetupStrIdConst::setupAutoLink}, {apple, SetupStrIdConst::setupAndroidAuto}}
        << QStringList{androidMode(1), aoaOff, startup};
    QTest::newRow("c: apple autolink")
        << Settings{{android, ""}, {apple, SetupStrIdConst::setupAutoLink}} << QStringList{startup};
    QTest::newRow("c: letter case differs")
        << Settings{{android, SetupStrIdConst::setupAutoLink.toUpper()}, {apple, SetupStrIdConst::setupIpod.toUpper()}}
        << QStringList{aoaOn, startup};
    QTest::newRow("c: unknown identifiers")
        << Settings{{android, "mirrorlink"}, {apple, "mirrorlink"}}
        << QStringList{aoaOn, startup};
    QTest::newRow("nothing saved: factory android auto and carplay")
        << Settings{} << QStringList{androidMode(0), aoaOn, appleMode(0), startup};
}

void tst_SysConfig::usbModes()
{
    QFETCH(Settings, saved);
    QFETCH(QStringList, calls);
    useSettings(saved);
    SysConfig config;
    startRecording();

    config.exeUsbSetting();

    const QStringList journal = HostJournal::lines();
    QStringList seen = journalWith(QStringLiteral("UsbControl::"));
    seen.removeAll(QStringLiteral("UsbControl::getInstance()"));
    QCOMPARE(seen, calls);

    // All four settings are read, the identifiers too, before the first call
    // on the USB service.
    QStringList reads = journalWith(QStringLiteral("DataSaveControl::readSettingData("));
    QCOMPARE(reads.size(), 4);
    const QStringList keys{SetupStrIdConst::setupAndroidDevice, SetupStrIdConst::setupAppleDevice,
                           SetupStrIdConst::setupCarlifeDevice, SetupStrIdConst::setupWebLinkDevice};
    for (int i = 0; i < keys.size(); ++i)
        QVERIFY2(reads.at(i).startsWith(QStringLiteral("DataSaveControl::readSettingData(%1, ").arg(keys.at(i))),
                 qPrintable(reads.at(i)));
    QVERIFY(journal.indexOf(reads.last()) < journal.indexOf(calls.first()));

    QCOMPARE(g_log.size(), 3);
    QVERIFY(g_log.at(0).text.startsWith(QLatin1String("QTime(")));
    QCOMPARE(g_log.at(1).text, QStringLiteral("SysConfig: exeUsbSetting"));
    QVERIFY(g_log.at(2).text.startsWith(QLatin1String("QTime(")));
    // The two time stamps bracket obtaining the USB service.
    QCOMPARE(journal.indexOf(QStringLiteral("UsbControl::getInstance()")), g_log.at(1).journalSize);
    QCOMPARE(g_log.at(2).journalSize, g_log.at(1).journalSize + 1);
}

QTEST_GUILESS_MAIN(tst_SysConfig)
#include "tst_sysconfig.moc"

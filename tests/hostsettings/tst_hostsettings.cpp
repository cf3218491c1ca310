#include <QtTest>

#include <datadefault.h>
#include <datasavecontrol.h>
#include <setupstridconst.h>

#include <hostplatform.h>
#include <journal.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "testmessages.h"

class tst_HostSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void readsSavedOrDefault_data();
    void readsSavedOrDefault();
    void brokenStoreReadsAsNothingSaved_data();
    void brokenStoreReadsAsNothingSaved();

private:
    void useFile(const QString &path);
    QTemporaryDir m_dir;
};

void tst_HostSettings::initTestCase()
{
    TestMessages::install();
    QVERIFY(m_dir.isValid());
    DataDefault::initDataDefault();
}

void tst_HostSettings::init()
{
    HostPlatform::reset();
}

void tst_HostSettings::useFile(const QString &path)
{
    qputenv("HEADUNIT_SETTINGS", path.toLocal8Bit());
    DataSaveControl::initQSettingPath();
    QCOMPARE(HostPlatform::settingsPath(), path);
}

void tst_HostSettings::readsSavedOrDefault_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("defaultValue");
    QTest::addColumn<QVariant>("expected");

    const QString volume = SetupStrIdConst::setupAlterVolume;
    const QString beep = SetupStrIdConst::setupSysBeep;
    const QString lang = SetupStrIdConst::setupSysLang;
    // Saved text comes back as text whatever the default's type: the caller
    // converts it, and "yes" is true, "loud" is 0, "" is false.
    const QString drive = SetupStrIdConst::setupRightDrive;
    QTest::newRow("saved int") << QByteArray("[setup]\nalterVolume=23\n") << volume << QVariant(15) << QVariant(QStringLiteral("23"));
    QTest::newRow("nothing saved") << QByteArray("[setup]\nsysLang=4\n") << volume << QVariant(15) << QVariant(15);
    QTest::newRow("word for an int") << QByteArray("[setup]\nalterVolume=loud\n") << volume << QVariant(15) << QVariant(QStringLiteral("loud"));
    QTest::newRow("word for a bool") << QByteArray("[setup]\nrightDrive=yes\n") << drive << QVariant(false) << QVariant(QStringLiteral("yes"));
    QTest::newRow("empty for a bool") << QByteArray("[setup]\nsysBeep=\n") << beep << QVariant(true) << QVariant(QString());
    QTest::newRow("commas make a list") << QByteArray("[setup]\nsysLang=1,2\n") << lang << QVariant(QStringLiteral("1"))
                                        << QVariant(QStringList{QStringLiteral("1"), QStringLiteral("2")});
    QTest::newRow("unreadable value") << QByteArray("[setup]\nalterVolume=@Variant(\\0\\0\\0\\x7f\\0\\0)\n") << volume << QVariant(15) << QVariant(15);
}

void tst_HostSettings::readsSavedOrDefault()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(QVariant, defaultValue);
    QFETCH(QVariant, expected);

    const QString path = m_dir.filePath(QStringLiteral("%1.ini").arg(QTest::currentDataTag()));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();
    useFile(path);
    if (file.contains("@Variant("))
        TestMessages::expectWarning("QVariant::load: unknown user type with name .");

    const QVariant value = DataSaveControl::readSettingData(key, defaultValue, QString());
    QCOMPARE(value, expected);
    QCOMPARE(HostJournal::lines().size(), 2);
    QVERIFY(HostJournal::lines().last().startsWith(QStringLiteral("DataSaveControl::readSettingData(%1, ").arg(key)));
}

void tst_HostSettings::brokenStoreReadsAsNothingSaved_data()
{
    static const char Garbage[] = "\x00\xff\x13[setup\n\x01=\x02\nalterVolume=30";
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("isDirectory");

    QTest::newRow("binary garbage") << QByteArray::fromRawData(Garbage, sizeof Garbage - 1) << false;
    QTest::newRow("unterminated section") << QByteArray("[setup\nalterVolume=30\n") << false;
    QTest::newRow("missing file") << QByteArray() << false;
    QTest::newRow("directory, not a file") << QByteArray() << true;
}

void tst_HostSettings::brokenStoreReadsAsNothingSaved()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, isDirectory);

    const QString path = m_dir.filePath(QStringLiteral("broken-%1.ini").arg(QTest::currentDataTag()));
    if (isDirectory) {
        QVERIFY(QDir().mkpath(path));
    } else if (!contents.isEmpty()) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(contents);
    }
    const QFileInfo before(path);
    useFile(path);

    QCOMPARE(DataSaveControl::readSettingData(SetupStrIdConst::setupAlterVolume, QVariant(15), QString()), QVariant(15));
    QCOMPARE(DataSaveControl::readSettingData(SetupStrIdConst::setupSysBeep, QVariant(true), QString()), QVariant(true));

    // Never repaired, created or overwritten behind the user's back.
    const QFileInfo after(path);
    QCOMPARE(after.exists(), before.exists());
    if (!isDirectory && !contents.isEmpty()) {
        QFile in(path);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.readAll(), contents);
    }
}

QTEST_GUILESS_MAIN(tst_HostSettings)
#include "tst_hostsettings.moc"

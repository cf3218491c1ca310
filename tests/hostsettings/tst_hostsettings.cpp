#include <QtTest>

#include <datadefault.h>
#include <datasavecontrol.h>
#include <setupstridconst.h>

#include <hostplatform.h>

#include <QFile>
#include <QTemporaryDir>

#include "testmessages.h"

class tst_HostSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init() { HostPlatform::reset(); }
    void readsSavedOrDefault_data();
    void readsSavedOrDefault();

private:
    QTemporaryDir m_dir;
};

void tst_HostSettings::initTestCase()
{
    TestMessages::install();
    QVERIFY(m_dir.isValid());
    DataDefault::initDataDefault();
}

void tst_HostSettings::readsSavedOrDefault_data()
{
    QTest::addColumn<QByteArray>("file"); // null: there is none
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("defaultValue");
    QTest::addColumn<QVariant>("expected");

    const QString volume = SetupStrIdConst::setupAlterVolume;
    const QString beep = SetupStrIdConst::setupSysBeep;
    const QString lang = SetupStrIdConst::setupSysLang;
    const QString drive = SetupStrIdConst::setupRightDrive;
    // Saved text comes back as text whatever the default's type: the caller
    // converts it, and "yes" is true, "" is false.
    QTest::newRow("saved int") << QByteArray("[setup]\nalterVolume=23\n") << volume << QVariant(15) << QVariant(QStringLiteral("23"));
    QTest::newRow("nothing saved") << QByteArray("[setup]\nsysLang=4\n") << volume << QVariant(15) << QVariant(15);
    QTest::newRow("word for a bool") << QByteArray("[setup]\nrightDrive=yes\n") << drive << QVariant(false) << QVariant(QStringLiteral("yes"));
    QTest::newRow("empty for a bool") << QByteArray("[setup]\nsysBeep=\n") << beep << QVariant(true) << QVariant(QString());
    QTest::newRow("commas make a list") << QByteArray("[setup]\nsysLang=1,2\n") << lang << QVariant(QStringLiteral("1"))
                                        << QVariant(QStringList{QStringLiteral("1"), QStringLiteral("2")});
    // A store that cannot be read is a store with nothing saved.
    static const char Garbage[] = "\x00\xff\x13[setup\n\x01=\x02\nalterVolume=30";
    QTest::newRow("binary garbage") << QByteArray::fromRawData(Garbage, sizeof Garbage - 1) << volume << QVariant(15) << QVariant(15);
    QTest::newRow("no file") << QByteArray() << volume << QVariant(15) << QVariant(15);
}

void tst_HostSettings::readsSavedOrDefault()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(QVariant, defaultValue);
    QFETCH(QVariant, expected);

    QFile store(m_dir.filePath(QStringLiteral("%1.ini").arg(QTest::currentDataTag())));
    QVERIFY(file.isNull() || (store.open(QIODevice::WriteOnly) && store.write(file) == file.size()));
    store.close();
    qputenv("HEADUNIT_SETTINGS", QFile::encodeName(store.fileName()));
    DataSaveControl::initQSettingPath();

    QCOMPARE(DataSaveControl::readSettingData(key, defaultValue, QString()), expected);
    // Never repaired, created or overwritten behind the user's back.
    QCOMPARE(store.exists(), !file.isNull());
    QVERIFY(file.isNull() || (store.open(QIODevice::ReadOnly) && store.readAll() == file));
}

QTEST_GUILESS_MAIN(tst_HostSettings)
#include "tst_hostsettings.moc"

// The system clock from the MCU clock and the radio time, the clock command
// sent back, and the Modified Julian Day conversion.

#include <datadefault.h>
#include <datasavecontrol.h>
#include <hostplatform.h>
#include <journal.h>
#include <setupstridconst.h>

#include "loglines.h"
#include "mcutestframes.h"
#include "startedlink.h"
#include "testmessages.h"

#include <QDateTime>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

using namespace McuTestFrames;

namespace {

QByteArray bigEndian(uint32_t value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray clockCommand(uint32_t seconds)
{
    return outboundLong(2, 195, QByteArray(1, '\x04') + bigEndian(seconds));
}

QString timeText(const TimeParam &t)
{
    return QString::asprintf("%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
}

} // namespace

class tst_McuClock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { HostPlatform::reset(); LogLines::clear(); }
    void cleanupTestCase() { LogLines::uninstall(); }

    void mcuTime_data();
    void mcuTime();
    void rdsTime_data();
    void rdsTime();
    void getTimeWholeRange();

private:
    void saveRdsSetting(const QString &value);

    QTemporaryDir m_settingsDir;
    StartedLink m_mcu;
};

void tst_McuClock::initTestCase()
{
    TestMessages::install();
    QVERIFY(m_settingsDir.isValid());
    qputenv("HEADUNIT_SETTINGS", m_settingsDir.filePath("settings.ini").toLocal8Bit());
    DataSaveControl::initQSettingPath();
    DataDefault::initDataDefault();
    QVERIFY(m_mcu.start());
    LogLines::install();
}

void tst_McuClock::saveRdsSetting(const QString &value)
{
    QSettings settings(HostPlatform::settingsPath(), QSettings::IniFormat);
    if (value.isNull())
        settings.remove(SetupStrIdConst::setupSyncRdsTime);
    else
        settings.setValue(SetupStrIdConst::setupSyncRdsTime, value);
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
}

void tst_McuClock::mcuTime_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<bool>("trusted");

    QTest::newRow("15552000 trusted") << 15552000u << true;
    QTest::newRow("0x7FFFFFFF trusted") << 0x7FFFFFFFu << true;
    QTest::newRow("15551999 falls back") << 15551999u << false;
    QTest::newRow("0x80000000 falls back") << 0x80000000u << false;
}

void tst_McuClock::mcuTime()
{
    QFETCH(uint, value);
    QFETCH(bool, trusted);

    const QTime before = QTime::currentTime();
    m_mcu.dispatch(inboundRecord(2, 12, QByteArray(1, '\0') + bigEndian(value)));
    const QTime after = QTime::currentTime();

    const QStringList calls = HostJournal::lines();
    QCOMPARE(calls.count("AppData::setMcuTimeSynced(true)"), 1);
    QCOMPARE(calls.last(), QStringLiteral("AppData::setMcuTimeSynced(true)"));

    if (trusted) {
        QCOMPARE(qint64(HostPlatform::lastSystemTime()), qint64(value));
        QCOMPARE(m_mcu.pending(), 0);
        return;
    }
    // 1 January 2024 at the local time of day of the call.
    const qint64 seconds = HostPlatform::lastSystemTime();
    const qint64 earliest = QDateTime(QDate(2024, 1, 1), before).toSecsSinceEpoch();
    const qint64 latest = QDateTime(QDate(2024, 1, 1), after).toSecsSinceEpoch();
    if (before <= after)
        QVERIFY2(seconds >= earliest && seconds <= latest, qPrintable(QString::number(seconds)));
    QCOMPARE(m_mcu.read(264).toHex(), clockCommand(uint32_t(seconds)).toHex());
}

void tst_McuClock::rdsTime_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("minute");
    QTest::addColumn<bool>("sets");

    QTest::newRow("setting off") << "false" << 7 << 5 << false;
    QTest::newRow("nothing saved, factory default on") << QString() << 7 << 5 << true;
    QTest::newRow("setting on, 23:59") << "true" << 23 << 59 << true;
    QTest::newRow("hour 24 ignored") << "true" << 24 << 0 << false;
    QTest::newRow("minute 60 ignored") << "true" << 12 << 60 << false;
}

void tst_McuClock::rdsTime()
{
    QFETCH(QString, setting);
    QFETCH(int, hour);
    QFETCH(int, minute);
    QFETCH(bool, sets);

    saveRdsSetting(setting);
    const QDate dayBefore = QDate::currentDate();
    m_mcu.dispatch(inboundRecord(2, 82, QByteArray(1, '\0') + char(hour) + char(minute)));
    const QDate dayAfter = QDate::currentDate();

    QVERIFY(!HostJournal::lines().contains("AppData::setMcuTimeSynced(true)"));
    if (!sets) {
        QCOMPARE(qint64(HostPlatform::lastSystemTime()), qint64(-1));
        QCOMPARE(m_mcu.pending(), 0);
        // One line says why, when the setting let the time through.
        QCOMPARE(LogLines::lines().filter(" is no time of day, clock left alone").size(), setting == "true" ? 1 : 0);
        return;
    }
    const qint64 seconds = HostPlatform::lastSystemTime();
    const QTime timeOfDay(hour, minute);
    QVERIFY(seconds == QDateTime(dayBefore, timeOfDay).toSecsSinceEpoch()
            || seconds == QDateTime(dayAfter, timeOfDay).toSecsSinceEpoch());
    QCOMPARE(m_mcu.read(264).toHex(), clockCommand(uint32_t(seconds)).toHex());
}

// Checked against Qt's own calendar, one day and one carry at a time. Inputs
// outside the range are pinned to its ends; that they still give a valid date
// and time, with no undefined behaviour on the way, is the fuzz target's
// property, and its corpus holds those borders.
void tst_McuClock::getTimeWholeRange()
{
    const int sums[] = {-1439, 0, 1439, 2879};
    for (unsigned long mjd = 15079; mjd <= 88127; ++mjd) {
        const QDateTime midnight(QDate::fromJulianDay(qint64(mjd) + 2400001), QTime(0, 0), QTimeZone::utc());
        for (int sum : sums) {
            const QDateTime want = midnight.addSecs(qint64(sum) * 60);
            TimeParam t = {-1, -1, -1, -1, -1};
            m_mcu.link.getTime(mjd, sum / 2, sum - sum / 2, &t);
            const QString wanted = want.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
            if (timeText(t) != wanted)
                QFAIL(qPrintable(QStringLiteral("mjd %1 minutes %2: got %3, want %4").arg(mjd).arg(sum).arg(timeText(t), wanted)));
        }
    }
}

QTEST_GUILESS_MAIN(tst_McuClock)
#include "tst_mcuclock.moc"

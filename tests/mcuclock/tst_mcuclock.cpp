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

#include <fakewallclock.h>

#include <QDateTime>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

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

// The test's zone, three hours east of UTC without summer time, so that local
// and UTC dates part every evening; and where its clock stands.
const qint64 ZoneOffset = 3 * 3600;
const qint64 Today = 1796725815;   // 2026-12-08 10:30:15 UTC
const qint64 Jan2024 = 1704067200;
// The last second of 32-bit time, the first past it, and 2040.
const qint64 Past2038[] = {2147483647, 2147483648, 2208988800};

qint64 localMidnight(qint64 now)
{
    return (now + ZoneOffset) / 86400 * 86400 - ZoneOffset;
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
    qputenv("TZ", "HUT-3");
    tzset();
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
    QTest::addColumn<qint64>("now");
    QTest::addColumn<uint>("value");
    QTest::addColumn<bool>("trusted");

    // An unsigned count: a set clock runs to 2106, all ones was never set.
    QTest::newRow("15551999 falls back") << Today << 15551999u << false;
    QTest::newRow("15552000 trusted") << Today << 15552000u << true;
    QTest::newRow("2^31-1 trusted") << Today << 0x7FFFFFFFu << true;
    QTest::newRow("2^31 trusted") << Today << 0x80000000u << true;
    QTest::newRow("2040-01-01 trusted") << Today << 2208988800u << true;
    QTest::newRow("2^32-2 trusted") << Today << 0xFFFFFFFEu << true;
    QTest::newRow("2^32-1 never set") << Today << 0xFFFFFFFFu << false;
    for (qint64 now : Past2038) {
        const QByteArray when = QDateTime::fromSecsSinceEpoch(now, Qt::UTC).toString(Qt::ISODate).toLatin1();
        QTest::newRow("2040 trusted at " + when) << now << 2208988800u << true;
        QTest::newRow("0 falls back at " + when) << now << 0u << false;
    }
}

void tst_McuClock::mcuTime()
{
    QFETCH(qint64, now);
    QFETCH(uint, value);
    QFETCH(bool, trusted);

    fakeWallClockFreeze(now, 0);
    m_mcu.dispatch(inboundRecord(2, 12, QByteArray(1, '\0') + bigEndian(value)));
    fakeWallClockRelease();

    const QStringList calls = HostJournal::lines();
    QCOMPARE(calls.count("AppData::setMcuTimeSynced(true)"), 1);
    QCOMPARE(calls.last(), QStringLiteral("AppData::setMcuTimeSynced(true)"));

    if (trusted) {
        QCOMPARE(qint64(HostPlatform::lastSystemTime()), qint64(value));
        QCOMPARE(m_mcu.pending(), 0);
        return;
    }
    // 1 January 2024 at the local time of day of the call.
    const qint64 seconds = qint64(HostPlatform::lastSystemTime());
    QCOMPARE(seconds, localMidnight(Jan2024) + (now - localMidnight(now)));
    QCOMPARE(m_mcu.read(264).toHex(), clockCommand(uint32_t(seconds)).toHex());
}

void tst_McuClock::rdsTime_data()
{
    QTest::addColumn<qint64>("now");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("minute");
    QTest::addColumn<bool>("sets");

    QTest::newRow("setting off") << Today << "false" << 7 << 5 << false;
    QTest::newRow("nothing saved, factory default on") << Today << QString() << 7 << 5 << true;
    QTest::newRow("setting on, 23:59") << Today << "true" << 23 << 59 << true;
    QTest::newRow("hour 24 ignored") << Today << "true" << 24 << 0 << false;
    QTest::newRow("minute 60 ignored") << Today << "true" << 12 << 60 << false;
    for (qint64 now : Past2038) {
        const QByteArray when = QDateTime::fromSecsSinceEpoch(now, Qt::UTC).toString(Qt::ISODate).toLatin1();
        QTest::newRow("00:00 at " + when) << now << "true" << 0 << 0 << true;
        QTest::newRow("23:59 at " + when) << now << "true" << 23 << 59 << true;
    }
}

void tst_McuClock::rdsTime()
{
    QFETCH(qint64, now);
    QFETCH(QString, setting);
    QFETCH(int, hour);
    QFETCH(int, minute);
    QFETCH(bool, sets);

    saveRdsSetting(setting);
    fakeWallClockFreeze(now, 0);
    m_mcu.dispatch(inboundRecord(2, 82, QByteArray(1, '\0') + char(hour) + char(minute)));
    fakeWallClockRelease();

    QVERIFY(!HostJournal::lines().contains("AppData::setMcuTimeSynced(true)"));
    if (!sets) {
        QCOMPARE(qint64(HostPlatform::lastSystemTime()), qint64(-1));
        QCOMPARE(m_mcu.pending(), 0);
        // One line says why, when the setting let the time through.
        QCOMPARE(LogLines::lines().filter(" is no time of day, clock left alone").size(), setting == "true" ? 1 : 0);
        return;
    }
    // The local date of the call, at the radio's time of day.
    const qint64 seconds = qint64(HostPlatform::lastSystemTime());
    QCOMPARE(seconds, localMidnight(now) + hour * 3600 + minute * 60);
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
        const QDateTime midnight(QDate::fromJulianDay(qint64(mjd) + 2400001), QTime(0, 0), Qt::UTC);
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

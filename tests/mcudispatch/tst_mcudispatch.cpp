// Inbound MCU dispatch: every handled message id, the borders of the tables, the
// records handed on and the replies as a real MCU service end receives them.

#include <activitymanager.h>
#include <hostplatform.h>

#include "loglines.h"
#include "mcutestframes.h"
#include "startedlink.h"
#include "stdoutcapture.h"
#include "testmessages.h"

#include <QtTest>

#include <atomic>

using namespace McuTestFrames;

namespace {

// The version report's payload: count byte, then C and S each after its
// length, then CR and the 13 date bytes.
QByteArray report(char count, const QByteArray &c, const QByteArray &s, const QByteArray &date)
{
    return count + (char(c.size()) + c) + (char(s.size()) + s) + '\r' + date;
}

} // namespace

class tst_McuDispatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { HostPlatform::reset(); LogLines::clear(); }
    void cleanupTestCase() { LogLines::uninstall(); }

    void inbound_data();
    void inbound();
    void activityReplyBeforeCommand();
    void versionReport_data();
    void versionReport();

private:
    StartedLink m_mcu;
    // Reply bytes that had reached the MCU service when the activity manager got its command.
    std::atomic<int> m_pendingAtCommand{-1};
};

void tst_McuDispatch::initTestCase()
{
    TestMessages::install();
    QVERIFY(m_mcu.start());
    LogLines::state().onLine = [this](const QString &line) {
        if (line.startsWith(QLatin1String("ActivityManager::handleMcuCommand(")))
            m_pendingAtCommand = m_mcu.pending();
    };
    LogLines::install();
    // The activity manager announces itself once; keep that out of the rows.
    tqappframework::ActivityManager::self();
}

void tst_McuDispatch::inbound_data()
{
    // A call ending in "..." is compared by its start; a receiver given so must
    // get the whole record, header and zero padding included.
    QTest::addColumn<QString>("down");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QStringList>("calls");

    const auto row = [](const char *name, const QByteArray &frame, const QStringList &calls, const char *down = "") {
        QTest::newRow(name) << QString(down) << frame << calls;
    };
    const auto rec = [](uint kind, uint msg) { return inboundRecord(kind, msg, QByteArray::fromHex("0102030405060708090a")); };
    const QString controller = QStringLiteral("BaseControl::RecevieMsgFromMcu(...");

    row("key pressed, words passed as int", normal(13078, 0xFFFFFFFFu, 0x80000000u), {"BaseControl::sendMcuKeyPressedSignal(-1, -2147483648)"});
    row("eject", normal(529, 47, 9), {"BaseControl::ejectSlot()"});
    row("command 14 does nothing", normal(529, 14, 7), {});
    row("13146 dropped", normal(13146, 1, 2), {});
    row("28929 dropped", normal(28929, 1, 2), {});
    row("any other id forwarded", normal(528, 13, 7), {"ActivityManager::handleMcuNormalMsg(kind 1, msg 528, p1 13, p2 7)"});
    row("MCU and tuner type signs from the low halves", normal(13144, 0x00018001u, 0xFFFFu),
        {"==========>MSG_M2A_MCU_TYPE: 98305 tuner type:  65535", "AppData::setMcuType(-32767)", "AppData::setTunerType(-1)"});

    row("57 to the controller", rec(2, 57), {controller});
    row("58 ignored", rec(2, 58), {});
    row("63 ignored", rec(2, 63), {});
    row("64 to the controller", rec(2, 64), {controller});
    row("78 to the controller", rec(2, 78), {controller});
    row("79 ignored", rec(2, 79), {});
    row("83 SIM data", rec(2, 83), {"BaseControl::RecevieSIMMsgFromMcu(..."});
    row("84 MCM data", rec(2, 84), {"BaseControl::RecevieMCMMsgFromMcu(..."});
    row("57 plus 2^32 as negative id ignored", rec(2, 0xFFFFFFC7u), {});
    row("kind 3 whatever its id", rec(3, 57), {"ActivityManager::handleMcuFrame(..."});
    row("kind 0 ignored", rec(0, 57), {});

    row("key study", inboundRecord(2, 47, QByteArray::fromHex("010203040506 1234 ffff 0000 8000 0001 abcd eeee")),
        {"BaseControl::ReceiveKeyStudyMsgFromMcu(1 2 3 4 5 6; 4660 65535 0 32768 1 43981)"});
    row("auto test item 240 zero-extended", inboundRecord(2, 112, QByteArray::fromHex("00f0")),
        {"BaseControl::RecevieAutoTestFromMcu(240, 00f0000000000000)"});
    row("MCU version up to its NUL", inboundRecord(2, 25, QByteArray("\x00V1.2\x00junk", 10)), {"PlatformControl::setMcuVersion(\"V1.2\")"});
    row("MCU version in Latin-1", inboundRecord(2, 25, QByteArray("\x00" "caf\xe9\x00", 6)),
        {QStringLiteral("PlatformControl::setMcuVersion(\"caf\u00e9\")")});
    row("MCU version without NUL before the record's end", inboundRecord(2, 25, QByteArray(1, '\0') + QByteArray(255, 'x')),
        {"PlatformControl::setMcuVersion(\"" + QString(255, 'x') + "\")"});

    // Byte 12 and bytes 15 and 16 carry what the identity must not pick up.
    const auto uuid = [](const QByteArray &prefix, const char *numberHex, const QString &id) {
        QTest::newRow(qPrintable("UUID " + id)) << QString() << inboundRecord(2, 212, "\x5a" + prefix + "\x7e\x7e" + QByteArray::fromHex(numberHex))
            << QStringList{QStringLiteral("==========>uuid: \"%1\" len= %2").arg(id).arg(id.size()), "AppData::setUUID(\"" + id + "\")"};
    };
    uuid(QByteArray("\x00" "B", 2), "00003039", "00000000012345");
    uuid("AB", "ffffffff", "AB00004294967295");
    uuid("\xc3\xa9", "00000001", QStringLiteral("\u00e900000000000001"));

    // A platform service that is not up yet drops what needed it, and nothing else
    // (the clock line ends in a local time).
    row("MCU version, no platform control", inboundRecord(2, 25, QByteArray("\x00V1.2\x00", 6)), {}, "platform control");
    row("version query, no platform control", normal(13080, 0, 0), {"sendVersionInfo no platform service, no version report"}, "platform control");
    row("MCU type, no application state", normal(13144, 1, 2), {"==========>MSG_M2A_MCU_TYPE: 1 tuner type:  2"}, "application state");
    row("UUID, no application state", inboundRecord(2, 212, QByteArray("\0AB\0\0\0\0\x30\x39", 9)),
        {"==========>uuid: \"AB00000000012345\" len= 16"}, "application state");
    row("MCU time, no application state", inboundRecord(2, 12, QByteArray("\0\x65\x90\0\0", 5)),
        {"SystemClock::setSystemTime(1703936000..."}, "application state");
}

void tst_McuDispatch::inbound()
{
    QFETCH(QString, down);
    QFETCH(QByteArray, frame);
    QFETCH(QStringList, calls);
    HostPlatform::setPlatformControlAvailable(down != "platform control");
    HostPlatform::setAppDataAvailable(down != "application state");

    StdoutCapture out;
    m_mcu.dispatch(frame);
    // Normal messages are printed, words in order after the kind.
    const auto w = [&frame](int i) { return qFromLittleEndian<quint32>(frame.constData() + 4 * i); };
    const bool normalMsg = frame.size() == 16 && w(0) == 1;
    QCOMPARE(out.take(), normalMsg ? QString::asprintf("Main app normal msg:%u, p1:%u, p2:%u.\n", w(1), w(2), w(3)).toLatin1() : QByteArray());
    const QStringList lines = LogLines::lines();
    QCOMPARE(lines.size(), calls.size());
    for (int i = 0; i < calls.size(); ++i) {
        const bool start = calls.at(i).endsWith("...");
        QVERIFY2(start ? lines.at(i).startsWith(calls.at(i).chopped(3)) : lines.at(i) == calls.at(i), qPrintable(lines.at(i)));
        if (calls.at(i).endsWith("(..."))
            QCOMPARE(HostPlatform::lastRecord().toHex(), frame.toHex());
    }
    QCOMPARE(m_mcu.pending(), 0);
}

// The MCU waits for the acknowledgement; it must be on the wire before the
// activity manager starts on the command, which gets p2.
void tst_McuDispatch::activityReplyBeforeCommand()
{
    m_mcu.dispatch(normal(529, 13, 7));
    QCOMPARE(LogLines::lines(), QStringList{"ActivityManager::handleMcuCommand(7)"});
    QCOMPARE(m_pendingAtCommand.load(), 16);
    QCOMPARE(m_mcu.read(16).toHex(), normal(12, 186, 0).toHex());
}

void tst_McuDispatch::versionReport_data()
{
    QTest::addColumn<QString>("customer");
    QTest::addColumn<QString>("sdk");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray c39(39, 'c'), s39(39, 's');
    QTest::newRow("empty customer and SDK versions") << "" << "" << "20240101.1200" << report(0x10, "", "", "20240101.1200");
    QTest::newRow("short date zero-filled") << "C" << "S" << "2024" << report(0x12, "C", "S", QByteArray("2024") + QByteArray(9, '\0'));
    QTest::newRow("39-byte versions kept whole") << QString(c39) << QString(s39) << "2026120612000"
                                                 << report(0x5e, c39, s39, "2026120612000");
    QTest::newRow("overlong versions cut to 39 bytes, date to 13") << QString(50, 'c') << QString(40, 's') << QString(30, 'd')
                                                                   << report(0x5e, c39, s39, QByteArray(13, 'd'));
}

void tst_McuDispatch::versionReport()
{
    QFETCH(QString, customer);
    QFETCH(QString, sdk);
    QFETCH(QString, date);
    QFETCH(QByteArray, payload);

    HostPlatform::setVersions(customer, sdk, date);
    m_mcu.dispatch(normal(13080, 0, 0));
    QCOMPARE(m_mcu.read(264).toHex(), outboundLong(2, 205, payload).toHex());
    QCOMPARE(m_mcu.pending(), 0);
}

QTEST_GUILESS_MAIN(tst_McuDispatch)
#include "tst_mcudispatch.moc"

// Outbound MCU commands, checked on the bytes a real MCU service end receives.

#include <appdata.h>
#include <hostplatform.h>
#include <journal.h>

#include "mcutestframes.h"
#include "startedlink.h"
#include "stdoutcapture.h"
#include "testmessages.h"

#include <QtTest>

#include <functional>

using tqappframework::MainAppProtocolComm;
using namespace McuTestFrames;

using Command = std::function<int(MainAppProtocolComm &)>;
Q_DECLARE_METATYPE(Command)

// One call on the link, as a table cell.
#define CALL(call) Command([](MainAppProtocolComm &l) { return l.call; })

namespace {

// Bytes 1, 2, 3, ... (the 256th wraps to 0); callers pass how many count.
unsigned char *data()
{
    static unsigned char bytes[256];
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<unsigned char>(i + 1);
    return bytes;
}

QByteArray counting(int count)
{
    return QByteArray(reinterpret_cast<const char *>(data()), count);
}

} // namespace

class tst_McuCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { HostPlatform::reset(); }

    void wireBytes_data();
    void wireBytes();
    void sourceState_data();
    void sourceState();
    void sourceWithoutAppData();

private:
    StartedLink m_mcu;
};

void tst_McuCommands::initTestCase()
{
    TestMessages::install();
    QVERIFY(m_mcu.start());
}

void tst_McuCommands::wireBytes_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QByteArray>("expected"); // none: refused, and nothing sent, printed or called

    QTest::newRow("app ready") << CALL(AppReady()) << QByteArray::fromHex("01000000" "0c000000" "11000000" "02000000");
    QTest::newRow("SendDataToMcu words unchanged") << CALL(SendDataToMcu(0xFFFFFFFFu, 0x80000000u, 7))
                                                   << normal(0xFFFFFFFFu, 0x80000000u, 7);
    QTest::newRow("heartbeat") << CALL(SendHeartbeattoMCU()) << normal(12, 190, 0);
    QTest::newRow("source id 65534 at the limit") << CALL(SendCurSrcToMcu(65534, 0)) << normal(12, 5, 0x0000FFFE);
    QTest::newRow("source id -1 passes as 0xFFFF") << CALL(SendCurSrcToMcu(-1, 0)) << normal(12, 5, 0x0000FFFF);
    QTest::newRow("source arg keeps its low 16 bits") << CALL(SendCurSrcToMcu(7, 0x12345)) << normal(12, 5, 0x23450007);
    QTest::newRow("key study type 0 is a normal message") << CALL(SendKeyStudyCmdToMcu(STEER_KEY_STUDY_CMD_NORMAL, 0x5A))
                                                          << normal(12, 189, 0x5A);
    QTest::newRow("key study type 1 is a long frame") << CALL(SendKeyStudyCmdToMcu(STEER_KEY_STUDY_CMD_LONG, 0x5A))
                                                      << outboundLong(2, 201, QByteArray::fromHex("015a"));
    QTest::newRow("time clock big-endian, first argument ignored")
        << CALL(SendTimeClockToMcu(7, 0xFEDCBA98u)) << QByteArray::fromHex("02000000" "c3000000" "04fedcba98") + QByteArray(251, '\0');
    QTest::newRow("key colour low bytes only") << CALL(SendKeyColorToMcu(0x1AB, 0xFFFFFF02u, 3))
                                               << outboundLong(2, 19, QByteArray::fromHex("0401ab0203"));
    QTest::newRow("heartbeat on") << CALL(SendBeatHeartOnOff(1)) << outboundLong(2, 194, QByteArray::fromHex("031c01"));
    QTest::newRow("media info 255 bytes, last data byte zero") << CALL(SendMediaPlayInfoToMcu(data(), 255))
                                                               << outboundLong(2, 196, counting(255));
    QTest::newRow("long data for the MCU") << CALL(SendLongDataToMcu(0xDEADBEEFu, data(), 9)) << outboundLong(2, 0xDEADBEEFu, counting(9));
    QTest::newRow("long data for the CAN bus") << CALL(SendLongDataToCAN(77, data(), 255)) << outboundLong(3, 77, counting(255));

    QTest::newRow("source id 65535 refused") << CALL(SendCurSrcToMcu(65535, 0)) << QByteArray();
    QTest::newRow("only source id 65535 refused") << CALL(onlySendCurSrcToMcu(65535, 0)) << QByteArray();
    QTest::newRow("key study type 2 refused") << CALL(SendKeyStudyCmdToMcu(STEER_KEY_STUDY_CMD_TYPE(2), 1)) << QByteArray();
    QTest::newRow("media info count 0 refused") << CALL(SendMediaPlayInfoToMcu(data(), 0)) << QByteArray();
    QTest::newRow("media info count 256 refused") << CALL(SendMediaPlayInfoToMcu(data(), 256)) << QByteArray();
    QTest::newRow("media info null pointer refused") << CALL(SendMediaPlayInfoToMcu(nullptr, 4)) << QByteArray();
}

void tst_McuCommands::wireBytes()
{
    QFETCH(Command, command);
    QFETCH(QByteArray, expected);

    StdoutCapture out;
    QCOMPARE(command(m_mcu.link), expected.isEmpty() ? -1 : 0);
    const QByteArray printed = out.take();
    if (expected.isEmpty()) {
        QCOMPARE(printed, QByteArray());
        QCOMPARE(HostJournal::lines(), QStringList());
    }
    QCOMPARE(m_mcu.read(expected.size()).toHex(), expected.toHex());
    // Sends complete before the call returns: anything extra is already here.
    QCOMPARE(m_mcu.pending(), 0);
}

void tst_McuCommands::sourceState_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("curAudio");
    QTest::addColumn<QStringList>("expected");

    // The host's defaults: audio sources 1..8, of which 1..4 switch directly.
    // Every source becomes the current one, the old one the last.
    const auto becomesCurrent = [](int id) {
        return QStringList{"AppData::setLastSource(9)", QStringLiteral("AppData::setCurSource(%1)").arg(id)};
    };
    QTest::newRow("direct-switch audio source")
        << 3 << 2
        << becomesCurrent(3) + QStringList{"AppData::setIsFirstRun(true)", "BaseControl::changeMediaSrcSlot(2, 3)",
                                           "AppData::setLastAudioSource(2)", "AppData::setCurAudioSource(3)"};
    QTest::newRow("direct-switch source already the audio source")
        << 3 << 3
        << becomesCurrent(3) + QStringList{"AppData::setIsFirstRun(true)", "BaseControl::changeMediaSrcSlot(3, 3)",
                                           "AppData::setCurAudioSource(3)"};
    QTest::newRow("audio source, not direct-switch") << 6 << 2 << becomesCurrent(6) + QStringList{"AppData::setIsFirstRun(true)"};
    QTest::newRow("other source") << 20 << 2 << becomesCurrent(20);
}

// What changes; the order of the setters and the questions asked on the way
// are the code's own affair.
void tst_McuCommands::sourceState()
{
    QFETCH(int, id);
    QFETCH(int, curAudio);
    QFETCH(QStringList, expected);

    AppData::GetInstance()->setCurSource(9);
    AppData::GetInstance()->setCurAudioSource(curAudio);
    HostJournal::clear();

    QCOMPARE(m_mcu.link.SendCurSrcToMcu(id, 0), 0);
    QStringList changes;
    for (const QString &line : HostJournal::lines()) {
        if (!line.contains(QLatin1String(" = ")))
            changes << line;
    }
    changes.sort();
    expected.sort();
    QCOMPARE(changes, expected);
    QCOMPARE(m_mcu.read(16).toHex(), normal(12, 5, uint32_t(id)).toHex());
}

// The frame still goes out, with the system's own lines.
void tst_McuCommands::sourceWithoutAppData()
{
    HostPlatform::setAppDataAvailable(false);
    StdoutCapture out;
    QCOMPARE(m_mcu.link.SendCurSrcToMcu(3, 1), 0);
    QCOMPARE(m_mcu.link.onlySendCurSrcToMcu(-1, 0), 0);
    QCOMPARE(out.take(), QByteArray("current src id:3\ncurrent src id2:-1\n"));
    QCOMPARE(HostJournal::lines(), QStringList());
    QCOMPARE(m_mcu.read(32).toHex(), (normal(12, 5, 0x00010003) + normal(12, 5, 0x0000FFFF)).toHex());
}

QTEST_GUILESS_MAIN(tst_McuCommands)
#include "tst_mcucommands.moc"

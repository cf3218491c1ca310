// Outbound MCU commands, checked on the bytes a real MCU service end receives.

#include <mainappprotocolcomm.h>

#include <appdata.h>
#include <hostplatform.h>
#include <journal.h>

#include "fakemcuservice.h"
#include "mcutestframes.h"
#include "stdoutcapture.h"

#include <QLoggingCategory>
#include <QtTest>

#include <functional>
#include <memory>

using tqappframework::MainAppProtocolComm;
using namespace McuTestFrames;

using Command = std::function<int(MainAppProtocolComm &)>;
Q_DECLARE_METATYPE(Command)

namespace {

unsigned char *bytes(QByteArray &array)
{
    return reinterpret_cast<unsigned char *>(array.data());
}

QByteArray counting(int count)
{
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data.append(char(i + 1));
    return data;
}

} // namespace

class tst_McuCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void wireBytes_data();
    void wireBytes();
    void refused_data();
    void refused();
    void sourceState_data();
    void sourceState();
    void sourceStateWithoutAppData();
    void sourceLines();
    void readyGreetsEveryNewConnection();

private:
    std::unique_ptr<FakeMcuService> m_service;
    std::unique_ptr<MainAppProtocolComm> m_link;
};

void tst_McuCommands::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("platform.debug=false"));
    m_service.reset(new FakeMcuService);
    QVERIFY(m_service->isListening());
    m_link.reset(new MainAppProtocolComm(m_service->endpoint()));
    m_link->Start();
    QVERIFY(m_service->waitForConnection());
}

void tst_McuCommands::init()
{
    HostPlatform::reset();
}

void tst_McuCommands::cleanupTestCase()
{
    m_link.reset();
    m_service.reset();
}

void tst_McuCommands::wireBytes_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("app ready")
        << Command([](MainAppProtocolComm &l) { return l.AppReady(); })
        << QByteArray::fromHex("01000000" "0c000000" "11000000" "02000000");
    QTest::newRow("activity reply through SendDataToMcu")
        << Command([](MainAppProtocolComm &l) { return l.SendDataToMcu(12, 186, 0); })
        << QByteArray::fromHex("01000000" "0c000000" "ba000000" "00000000");
    QTest::newRow("SendDataToMcu words unchanged")
        << Command([](MainAppProtocolComm &l) { return l.SendDataToMcu(0xFFFFFFFFu, 0x80000000u, 7); })
        << normal(0xFFFFFFFFu, 0x80000000u, 7);
    QTest::newRow("eject disc")
        << Command([](MainAppProtocolComm &l) { return l.EjectDisc(); }) << normal(12, 140, 0);
    QTest::newRow("heartbeat")
        << Command([](MainAppProtocolComm &l) { return l.SendHeartbeattoMCU(); }) << normal(12, 190, 0);
    QTest::newRow("source id 3 arg 1")
        << Command([](MainAppProtocolComm &l) { return l.SendCurSrcToMcu(3, 1); })
        << normal(12, 5, 0x00010003);
    QTest::newRow("source id 65534 at the limit")
        << Command([](MainAppProtocolComm &l) { return l.SendCurSrcToMcu(65534, 0); })
        << normal(12, 5, 0x0000FFFE);
    QTest::newRow("source id -1 passes as 0xFFFF")
        << Command([](MainAppProtocolComm &l) { return l.SendCurSrcToMcu(-1, 0); })
        << normal(12, 5, 0x0000FFFF);
    QTest::newRow("source arg keeps its low 16 bits")
        << Command([](MainAppProtocolComm &l) { return l.SendCurSrcToMcu(7, 0x12345); })
        << normal(12, 5, 0x23450007);
    QTest::newRow("source arg -1")
        << Command([](MainAppProtocolComm &l) { return l.SendCurSrcToMcu(2, -1); })
        << normal(12, 5, 0xFFFF0002);
    QTest::newRow("only source id 3 arg 1")
        << Command([](MainAppProtocolComm &l) { return l.onlySendCurSrcToMcu(3, 1); })
        << normal(12, 5, 0x00010003);
    QTest::newRow("only source id 65534")
        << Command([](MainAppProtocolComm &l) { return l.onlySendCurSrcToMcu(65534, 2); })
        << normal(12, 5, 0x0002FFFE);
    QTest::newRow("key study type 0 is a normal message")
        << Command([](MainAppProtocolComm &l) { return l.SendKeyStudyCmdToMcu(STEER_KEY_STUDY_CMD_NORMAL, 0x5A); })
        << normal(12, 189, 0x5A);
    QTest::newRow("key study type 1 is a long frame")
        << Command([](MainAppProtocolComm &l) { return l.SendKeyStudyCmdToMcu(STEER_KEY_STUDY_CMD_LONG, 0x5A); })
        << outboundLong(2, 201, QByteArray::fromHex("015a"));
    QTest::newRow("time clock bytes big-endian, first argument ignored")
        << Command([](MainAppProtocolComm &l) { return l.SendTimeClockToMcu(7, 0x01020304); })
        << QByteArray::fromHex("02000000" "c3000000" "0401020304") + QByteArray(251, '\0');
    QTest::newRow("time clock top bit")
        << Command([](MainAppProtocolComm &l) { return l.SendTimeClockToMcu(195, 0xFEDCBA98u); })
        << outboundLong(2, 195, QByteArray::fromHex("04fedcba98"));
    QTest::newRow("key colour low bytes only")
        << Command([](MainAppProtocolComm &l) { return l.SendKeyColorToMcu(0x1AB, 0xFFFFFF02u, 3); })
        << outboundLong(2, 19, QByteArray::fromHex("0401ab0203"));
    QTest::newRow("heartbeat on")
        << Command([](MainAppProtocolComm &l) { return l.SendBeatHeartOnOff(1); })
        << outboundLong(2, 194, QByteArray::fromHex("031c01"));
    QTest::newRow("heartbeat off")
        << Command([](MainAppProtocolComm &l) { return l.SendBeatHeartOnOff(0); })
        << outboundLong(2, 194, QByteArray::fromHex("031c00"));
    QTest::newRow("media info 1 byte")
        << Command([](MainAppProtocolComm &l) { QByteArray d("\x7f", 1); return l.SendMediaPlayInfoToMcu(bytes(d), 1); })
        << outboundLong(2, 196, QByteArray("\x7f", 1));
    QTest::newRow("media info 255 bytes, last data byte zero")
        << Command([](MainAppProtocolComm &l) { QByteArray d = counting(255); return l.SendMediaPlayInfoToMcu(bytes(d), 255); })
        << outboundLong(2, 196, counting(255));
    QTest::newRow("media info copies only the count")
        << Command([](MainAppProtocolComm &l) { QByteArray d = counting(40); return l.SendMediaPlayInfoToMcu(bytes(d), 3); })
        << outboundLong(2, 196, counting(3));
    QTest::newRow("long data for the MCU")
        << Command([](MainAppProtocolComm &l) { QByteArray d = counting(9); return l.SendLongDataToMcu(0xDEADBEEFu, bytes(d), 9); })
        << outboundLong(2, 0xDEADBEEFu, counting(9));
    QTest::newRow("long data for the CAN bus")
        << Command([](MainAppProtocolComm &l) { QByteArray d = counting(9); return l.SendLongDataToCAN(0xDEADBEEFu, bytes(d), 9); })
        << outboundLong(3, 0xDEADBEEFu, counting(9));
    QTest::newRow("long data 255 bytes for the CAN bus")
        << Command([](MainAppProtocolComm &l) { QByteArray d = counting(255); return l.SendLongDataToCAN(77, bytes(d), 255); })
        << outboundLong(3, 77, counting(255));
}

void tst_McuCommands::wireBytes()
{
    QFETCH(Command, command);
    QFETCH(QByteArray, expected);

    QCOMPARE(command(*m_link), 0);
    QCOMPARE(m_service->read(expected.size()).toHex(), expected.toHex());
    // Sends complete before the call returns: anything extra is already here.
    QCOMPARE(m_service->pending(), 0);
}

void tst_McuCommands::refused_data()
{
    QTest::addColumn<Command>("command");

    QTest::newRow("source id 65535")
        << Command([](MainAppProtocolComm &l) { return l.SendCurSrcToMcu(65535, 0); });
    QTest::newRow("source id INT_MAX")
        << Command([](MainAppProtocolComm &l) { return l.SendCurSrcToMcu(INT_MAX, 0); });
    QTest::newRow("only source id 65535")
        << Command([](MainAppProtocolComm &l) { return l.onlySendCurSrcToMcu(65535, 0); });
    QTest::newRow("key study type 2")
        << Command([](MainAppProtocolComm &l) { return l.SendKeyStudyCmdToMcu(STEER_KEY_STUDY_CMD_TYPE(2), 1); });
    QTest::newRow("key study type -1")
        << Command([](MainAppProtocolComm &l) { return l.SendKeyStudyCmdToMcu(STEER_KEY_STUDY_CMD_TYPE(-1), 1); });
    QTest::newRow("media info count 0")
        << Command([](MainAppProtocolComm &l) { QByteArray d = counting(8); return l.SendMediaPlayInfoToMcu(bytes(d), 0); });
    QTest::newRow("media info count 256")
        << Command([](MainAppProtocolComm &l) { QByteArray d = counting(256); return l.SendMediaPlayInfoToMcu(bytes(d), 256); });
    QTest::newRow("media info count -1")
        << Command([](MainAppProtocolComm &l) { QByteArray d = counting(8); return l.SendMediaPlayInfoToMcu(bytes(d), -1); });
    QTest::newRow("media info null pointer")
        << Command([](MainAppProtocolComm &l) { return l.SendMediaPlayInfoToMcu(nullptr, 4); });
    QTest::newRow("long data MCU count 256")
        << Command([](MainAppProtocolComm &l) { QByteArray d = counting(256); return l.SendLongDataToMcu(5, bytes(d), 256); });
    QTest::newRow("long data MCU null pointer")
        << Command([](MainAppProtocolComm &l) { return l.SendLongDataToMcu(5, nullptr, 1); });
    QTest::newRow("long data CAN count 0")
        << Command([](MainAppProtocolComm &l) { QByteArray d = counting(8); return l.SendLongDataToCAN(5, bytes(d), 0); });
    QTest::newRow("long data CAN null pointer")
        << Command([](MainAppProtocolComm &l) { return l.SendLongDataToCAN(5, nullptr, 1); });
}

void tst_McuCommands::refused()
{
    QFETCH(Command, command);

    StdoutCapture out;
    QCOMPARE(command(*m_link), -1);
    QCOMPARE(out.take(), QByteArray());
    QCOMPARE(HostJournal::lines(), QStringList());
    QCOMPARE(m_service->pending(), 0);
}

void tst_McuCommands::sourceState_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("curAudio");
    QTest::addColumn<QStringList>("expected");

    // The host's defaults: audio sources 1..8, of which 1..4 switch directly.
    QTest::newRow("direct-switch audio source")
        << 3 << 2
        << QStringList{"AppData::curSource() = 9",
                       "AppData::setLastSource(9)",
                       "AppData::setCurSource(3)",
                       "AppData::isAudioSource(3) = true",
                       "AppData::setIsFirstRun(true)",
                       "AppData::isDirectSwitchAudioSrc(3) = true",
                       "AppData::curAudioSource() = 2",
                       "BaseControl::changeMediaSrcSlot(2, 3)",
                       "AppData::curAudioSource() = 2",
                       "AppData::curAudioSource() = 2",
                       "AppData::setLastAudioSource(2)",
                       "AppData::setCurAudioSource(3)"};
    QTest::newRow("direct-switch source already the audio source")
        << 3 << 3
        << QStringList{"AppData::curSource() = 9",
                       "AppData::setLastSource(9)",
                       "AppData::setCurSource(3)",
                       "AppData::isAudioSource(3) = true",
                       "AppData::setIsFirstRun(true)",
                       "AppData::isDirectSwitchAudioSrc(3) = true",
                       "AppData::curAudioSource() = 3",
                       "BaseControl::changeMediaSrcSlot(3, 3)",
                       "AppData::curAudioSource() = 3",
                       "AppData::setCurAudioSource(3)"};
    QTest::newRow("audio source, not direct-switch")
        << 6 << 2
        << QStringList{"AppData::curSource() = 9",
                       "AppData::setLastSource(9)",
                       "AppData::setCurSource(6)",
                       "AppData::isAudioSource(6) = true",
                       "AppData::setIsFirstRun(true)",
                       "AppData::isDirectSwitchAudioSrc(6) = false"};
    QTest::newRow("other source")
        << 20 << 2
        << QStringList{"AppData::curSource() = 9",
                       "AppData::setLastSource(9)",
                       "AppData::setCurSource(20)",
                       "AppData::isAudioSource(20) = false"};
    QTest::newRow("source id -1")
        << -1 << 2
        << QStringList{"AppData::curSource() = 9",
                       "AppData::setLastSource(9)",
                       "AppData::setCurSource(-1)",
                       "AppData::isAudioSource(-1) = false"};
}

void tst_McuCommands::sourceState()
{
    QFETCH(int, id);
    QFETCH(int, curAudio);
    QFETCH(QStringList, expected);

    AppData::GetInstance()->setCurSource(9);
    AppData::GetInstance()->setCurAudioSource(curAudio);
    HostJournal::clear();

    QCOMPARE(m_link->SendCurSrcToMcu(id, 0), 0);
    QCOMPARE(HostJournal::lines(), expected);
    QCOMPARE(m_service->read(16).toHex(), normal(12, 5, uint32_t(id) & 0xFFFF).toHex());
}

void tst_McuCommands::sourceStateWithoutAppData()
{
    HostPlatform::setAppDataAvailable(false);
    QCOMPARE(m_link->SendCurSrcToMcu(3, 1), 0);
    QCOMPARE(HostJournal::lines(), QStringList());
    QCOMPARE(m_service->read(16).toHex(), normal(12, 5, 0x00010003).toHex());
}

void tst_McuCommands::sourceLines()
{
    StdoutCapture out;
    m_link->SendCurSrcToMcu(3, 1);
    m_link->onlySendCurSrcToMcu(-1, 0);
    QCOMPARE(out.take(), QByteArray("current src id:3\ncurrent src id2:-1\n"));
    QCOMPARE(m_service->read(32).size(), 32);
}

// A restarted MCU service must hear that the application is ready, although
// AppReady() ran only once, long before.
void tst_McuCommands::readyGreetsEveryNewConnection()
{
    const QByteArray ready = normal(12, 17, 2);
    QCOMPARE(m_link->AppReady(), 0);
    QCOMPARE(m_service->read(16).toHex(), ready.toHex());

    m_service->dropConnection();
    QVERIFY(m_service->waitForConnection());
    QCOMPARE(m_service->read(16).toHex(), ready.toHex());

    QCOMPARE(m_link->SendHeartbeattoMCU(), 0);
    QCOMPARE(m_service->read(16).toHex(), normal(12, 190, 0).toHex());
}

QTEST_GUILESS_MAIN(tst_McuCommands)
#include "tst_mcucommands.moc"

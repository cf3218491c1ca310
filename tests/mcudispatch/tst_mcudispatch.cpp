// Inbound MCU dispatch: every handled message id, the borders of the tables, the
// records handed on and the replies as a real MCU service end receives them.

#include <activitymanager.h>
#include <hostplatform.h>
#include <journal.h>

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
    void init();
    void cleanupTestCase();

    void normalMessages_data();
    void normalMessages();
    void activityReplyBeforeCommand();
    void longMessages_data();
    void longMessages();
    void recordsDecoded_data();
    void recordsDecoded();
    void missingPlatformServices_data();
    void missingPlatformServices();
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

void tst_McuDispatch::init()
{
    HostPlatform::reset();
    LogLines::clear();
}

void tst_McuDispatch::cleanupTestCase()
{
    LogLines::uninstall();
}

void tst_McuDispatch::normalMessages_data()
{
    QTest::addColumn<uint>("msg");
    QTest::addColumn<uint>("p1");
    QTest::addColumn<uint>("p2");
    QTest::addColumn<QStringList>("calls");

    const auto forwarded = [](uint msg, uint p1, uint p2) {
        return QStringList{QStringLiteral("ActivityManager::handleMcuNormalMsg(kind 1, msg %1, p1 %2, p2 %3)").arg(msg).arg(p1).arg(p2)};
    };
    QTest::newRow("key pressed") << 13078u << 5u << 1u << QStringList{"BaseControl::sendMcuKeyPressedSignal(5, 1)"};
    QTest::newRow("key pressed, words passed as int") << 13078u << 0xFFFFFFFFu << 0x80000000u
                                                      << QStringList{"BaseControl::sendMcuKeyPressedSignal(-1, -2147483648)"};
    QTest::newRow("eject") << 529u << 47u << 9u << QStringList{"BaseControl::ejectSlot()"};
    QTest::newRow("command 14 does nothing") << 529u << 14u << 7u << QStringList();
    QTest::newRow("13146 dropped") << 13146u << 1u << 2u << QStringList();
    QTest::newRow("28929 dropped") << 28929u << 1u << 2u << QStringList();
    QTest::newRow("any other id forwarded") << 528u << 13u << 7u << forwarded(528, 13, 7);
    QTest::newRow("MCU type sign from the low half") << 13144u << 0x00018001u << 2u
        << QStringList{"==========>MSG_M2A_MCU_TYPE: 98305 tuner type:  2", "AppData::setMcuType(-32767)", "AppData::setTunerType(2)"};
    QTest::newRow("MCU type 0x7FFF, tuner type 0xFFFF") << 13144u << 0xABCD7FFFu << 0xFFFFu
        << QStringList{"==========>MSG_M2A_MCU_TYPE: 2882371583 tuner type:  65535", "AppData::setMcuType(32767)",
                       "AppData::setTunerType(-1)"};
}

void tst_McuDispatch::normalMessages()
{
    QFETCH(uint, msg);
    QFETCH(uint, p1);
    QFETCH(uint, p2);
    QFETCH(QStringList, calls);

    StdoutCapture out;
    m_mcu.dispatch(normal(msg, p1, p2));
    QCOMPARE(out.take(), QString::asprintf("Main app normal msg:%u, p1:%u, p2:%u.\n", msg, p1, p2).toLatin1());
    QCOMPARE(LogLines::lines(), calls);
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

void tst_McuDispatch::longMessages_data()
{
    QTest::addColumn<uint>("kind");
    QTest::addColumn<uint>("msg");
    QTest::addColumn<QString>("receiver");

    const QString controller = QStringLiteral("BaseControl::RecevieMsgFromMcu");
    QTest::newRow("57 to the controller") << 2u << 57u << controller;
    QTest::newRow("58 ignored") << 2u << 58u << QString();
    QTest::newRow("63 ignored") << 2u << 63u << QString();
    QTest::newRow("64 to the controller") << 2u << 64u << controller;
    QTest::newRow("78 to the controller") << 2u << 78u << controller;
    QTest::newRow("79 ignored") << 2u << 79u << QString();
    QTest::newRow("83 SIM data") << 2u << 83u << QStringLiteral("BaseControl::RecevieSIMMsgFromMcu");
    QTest::newRow("84 MCM data") << 2u << 84u << QStringLiteral("BaseControl::RecevieMCMMsgFromMcu");
    QTest::newRow("57 plus 2^32 as negative id ignored") << 2u << 0xFFFFFFC7u << QString();
    QTest::newRow("kind 3 whatever its id") << 3u << 57u << QStringLiteral("ActivityManager::handleMcuFrame");
    QTest::newRow("kind 0 ignored") << 0u << 57u << QString();
}

void tst_McuDispatch::longMessages()
{
    QFETCH(uint, kind);
    QFETCH(uint, msg);
    QFETCH(QString, receiver);

    const QByteArray record = inboundRecord(kind, msg, QByteArray::fromHex("0102030405060708090a"));
    StdoutCapture out;
    m_mcu.dispatch(record);
    QCOMPARE(out.take(), QByteArray());
    QCOMPARE(m_mcu.pending(), 0);

    const QStringList calls = LogLines::lines();
    QCOMPARE(calls.size(), receiver.isEmpty() ? 0 : 1);
    if (!receiver.isEmpty()) {
        QVERIFY2(calls.first().startsWith(receiver + '('), qPrintable(calls.first()));
        // The whole record, header and zero padding included.
        QCOMPARE(HostPlatform::lastRecord().toHex(), record.toHex());
    }
}

void tst_McuDispatch::recordsDecoded_data()
{
    QTest::addColumn<uint>("msg");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("key study") << 47u << QByteArray::fromHex("010203040506 1234 ffff 0000 8000 0001 abcd eeee")
                               << QStringList{"BaseControl::ReceiveKeyStudyMsgFromMcu(1 2 3 4 5 6; 4660 65535 0 32768 1 43981)"};
    QTest::newRow("auto test item 240 zero-extended") << 112u << QByteArray::fromHex("00f0")
                                                      << QStringList{"BaseControl::RecevieAutoTestFromMcu(240, 00f0000000000000)"};

    QTest::newRow("MCU version up to its NUL") << 25u << QByteArray("\x00V1.2\x00junk", 10)
                                               << QStringList{"PlatformControl::setMcuVersion(\"V1.2\")"};
    QTest::newRow("MCU version in Latin-1") << 25u << QByteArray("\x00" "caf\xe9\x00", 6)
                                            << QStringList{QStringLiteral("PlatformControl::setMcuVersion(\"caf\u00e9\")")};
    QTest::newRow("MCU version without NUL before the record's end") << 25u << QByteArray(1, '\0') + QByteArray(255, 'x')
        << QStringList{"PlatformControl::setMcuVersion(\"" + QString(255, 'x') + "\")"};

    // Byte 12 and bytes 15 and 16 carry what the identity must not pick up.
    const auto uuid = [](const QByteArray &prefix, const char *numberHex, const QString &id) {
        QTest::newRow(qPrintable("UUID " + id)) << 212u << "\x5a" + prefix + "\x7e\x7e" + QByteArray::fromHex(numberHex)
            << QStringList{QStringLiteral("==========>uuid: \"%1\" len= %2").arg(id).arg(id.size()), "AppData::setUUID(\"" + id + "\")"};
    };
    uuid(QByteArray("\x00" "B", 2), "00003039", "00000000012345");
    uuid("AB", "ffffffff", "AB00004294967295");
    uuid("\xc3\xa9", "00000001", QStringLiteral("\u00e900000000000001"));
}

void tst_McuDispatch::recordsDecoded()
{
    QFETCH(uint, msg);
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, lines);

    m_mcu.dispatch(inboundRecord(2, msg, payload));
    QCOMPARE(LogLines::lines(), lines);
}

void tst_McuDispatch::missingPlatformServices_data()
{
    QTest::addColumn<bool>("platformControl");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("MCU version, no platform control") << false << inboundRecord(2, 25, QByteArray("\x00V1.2\x00", 6)) << QStringList();
    QTest::newRow("version query, no platform control") << false << normal(13080, 0, 0)
        << QStringList{"sendVersionInfo no platform service, no version report"};
    QTest::newRow("MCU type, no application state") << true << normal(13144, 1, 2)
        << QStringList{"==========>MSG_M2A_MCU_TYPE: 1 tuner type:  2"};
    QTest::newRow("UUID, no application state") << true << inboundRecord(2, 212, QByteArray("\0AB\0\0\0\0\x30\x39", 9))
        << QStringList{"==========>uuid: \"AB00000000012345\" len= 16"};
    QTest::newRow("MCU time, no application state") << true << inboundRecord(2, 12, QByteArray("\0\x65\x90\0\0", 5))
        << QStringList{"SystemClock::setSystemTime(1703936000)"};
}

// A platform service that is not up yet drops what needed it, and nothing else
// (the clock line ends in a local time: compared by its start).
void tst_McuDispatch::missingPlatformServices()
{
    QFETCH(bool, platformControl);
    QFETCH(QByteArray, frame);
    QFETCH(QStringList, calls);
    HostPlatform::setPlatformControlAvailable(platformControl);
    HostPlatform::setAppDataAvailable(!platformControl);

    StdoutCapture out;
    m_mcu.dispatch(frame);
    const QStringList lines = LogLines::lines();
    QCOMPARE(lines.size(), calls.size());
    for (int i = 0; i < calls.size(); ++i)
        QVERIFY2(lines.at(i).startsWith(calls.at(i)), qPrintable(lines.at(i)));
    QCOMPARE(m_mcu.pending(), 0);
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
    HostJournal::clear();
    m_mcu.dispatch(normal(13080, 0, 0));
    QCOMPARE(m_mcu.read(264).toHex(), outboundLong(2, 205, payload).toHex());
    QCOMPARE(m_mcu.pending(), 0);
    QCOMPARE(HostJournal::lines(), (QStringList{"PlatformControl::getCustomerVer() = \"" + customer + '"',
                                                "PlatformControl::getSDKVer() = \"" + sdk + '"',
                                                "BaseControl::getDateVersion() = \"" + date + '"'}));
}

QTEST_GUILESS_MAIN(tst_McuDispatch)
#include "tst_mcudispatch.moc"

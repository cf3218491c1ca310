// Inbound MCU dispatch: every message id, the borders of the tables, the
// records handed on and the replies as a real MCU service end receives them.

#include <mainappprotocolcomm.h>

#include <activitymanager.h>
#include <hostplatform.h>
#include <journal.h>

#include "fakemcuservice.h"
#include "mcutestframes.h"
#include "stdoutcapture.h"

#include <QMutex>
#include <QMutexLocker>
#include <QtTest>

#include <memory>

using tqappframework::MainAppProtocolComm;
using namespace McuTestFrames;

namespace {

// What the dispatcher writes through the Qt log (category "default"), and how
// many reply bytes had reached the MCU service when the activity manager got
// its command.
struct LogCapture {
    QMutex mutex;
    QStringList debugLines;          // any thread, under mutex
    FakeMcuService *service = nullptr;
    int pendingAtCommand = -1;       // any thread, under mutex
};

LogCapture &logCapture()
{
    static LogCapture capture;
    return capture;
}

void captureMessages(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    LogCapture &c = logCapture();
    QMutexLocker lock(&c.mutex);
    if (qstrcmp(context.category, "default") == 0)
        c.debugLines.append(message);
    else if (message.startsWith(QLatin1String("ActivityManager::handleMcuCommand(")) && c.service)
        c.pendingAtCommand = c.service->pending();
}

QStringList debugLines()
{
    QMutexLocker lock(&logCapture().mutex);
    return logCapture().debugLines;
}

QByteArray repeated(char c, int count)
{
    return QByteArray(count, c);
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
    void mcuTypeLine();
    void activityReplyBeforeCommand();
    void longMessages_data();
    void longMessages();
    void keyStudy();
    void autoTest_data();
    void autoTest();
    void mcuVersion_data();
    void mcuVersion();
    void uuid_data();
    void uuid();
    void versionReport_data();
    void versionReport();
    void repliesEndToEnd();

private:
    void dispatch(QByteArray frame) { m_link->resolvePacket(reinterpret_cast<unsigned char *>(frame.data())); }

    std::unique_ptr<FakeMcuService> m_service;
    std::unique_ptr<MainAppProtocolComm> m_link;
    QtMessageHandler m_previousHandler = nullptr;
};

void tst_McuDispatch::initTestCase()
{
    m_service.reset(new FakeMcuService);
    QVERIFY(m_service->isListening());
    m_link.reset(new MainAppProtocolComm(m_service->endpoint()));
    m_link->Start();
    QVERIFY(m_service->waitForConnection());
    logCapture().service = m_service.get();
    QLoggingCategory::setFilterRules(QStringLiteral("platform.debug=true"));
    m_previousHandler = qInstallMessageHandler(captureMessages);
    // The activity manager announces itself once; keep that out of the rows.
    tqappframework::ActivityManager::self();
}

void tst_McuDispatch::init()
{
    HostPlatform::reset();
    QMutexLocker lock(&logCapture().mutex);
    logCapture().debugLines.clear();
    logCapture().pendingAtCommand = -1;
}

void tst_McuDispatch::cleanupTestCase()
{
    qInstallMessageHandler(m_previousHandler);
    logCapture().service = nullptr;
    m_link.reset();
    m_service.reset();
}

void tst_McuDispatch::normalMessages_data()
{
    QTest::addColumn<uint>("msg");
    QTest::addColumn<uint>("p1");
    QTest::addColumn<uint>("p2");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("key pressed") << 13078u << 5u << 1u
        << QStringList{"BaseControl::sendMcuKeyPressedSignal(5, 1)"} << QByteArray();
    QTest::newRow("key pressed, words passed as int") << 13078u << 0xFFFFFFFFu << 0x80000000u
        << QStringList{"BaseControl::sendMcuKeyPressedSignal(-1, -2147483648)"} << QByteArray();
    QTest::newRow("activity command replies and forwards p2") << 529u << 13u << 7u
        << QStringList{"ActivityManager::handleMcuCommand(7)"} << normal(12, 186, 0);
    QTest::newRow("eject") << 529u << 47u << 9u
        << QStringList{"BaseControl::ejectSlot()"} << QByteArray();
    QTest::newRow("command 1 does nothing") << 529u << 1u << 7u << QStringList() << QByteArray();
    QTest::newRow("command 14 does nothing") << 529u << 14u << 7u << QStringList() << QByteArray();
    QTest::newRow("13146 dropped") << 13146u << 1u << 2u << QStringList() << QByteArray();
    QTest::newRow("28929 dropped") << 28929u << 1u << 2u << QStringList() << QByteArray();
    QTest::newRow("13079 forwarded") << 13079u << 3u << 4u
        << QStringList{"ActivityManager::handleMcuNormalMsg(kind 1, msg 13079, p1 3, p2 4)"} << QByteArray();
    QTest::newRow("13077 forwarded") << 13077u << 0u << 0u
        << QStringList{"ActivityManager::handleMcuNormalMsg(kind 1, msg 13077, p1 0, p2 0)"} << QByteArray();
    QTest::newRow("13145 forwarded") << 13145u << 1u << 1u
        << QStringList{"ActivityManager::handleMcuNormalMsg(kind 1, msg 13145, p1 1, p2 1)"} << QByteArray();
    QTest::newRow("528 forwarded") << 528u << 13u << 7u
        << QStringList{"ActivityManager::handleMcuNormalMsg(kind 1, msg 528, p1 13, p2 7)"} << QByteArray();
    QTest::newRow("id 0 forwarded") << 0u << 0u << 0u
        << QStringList{"ActivityManager::handleMcuNormalMsg(kind 1, msg 0, p1 0, p2 0)"} << QByteArray();
    QTest::newRow("id 0xFFFFFFFF forwarded") << 0xFFFFFFFFu << 0xFFFFFFFFu << 1u
        << QStringList{"ActivityManager::handleMcuNormalMsg(kind 1, msg 4294967295, p1 4294967295, p2 1)"} << QByteArray();
    QTest::newRow("MCU type sign from the low half") << 13144u << 0x00018001u << 2u
        << QStringList{"AppData::setMcuType(-32767)", "AppData::setTunerType(2)"} << QByteArray();
    QTest::newRow("MCU type 0x7FFF, tuner type 0xFFFF") << 13144u << 0xABCD7FFFu << 0xFFFFu
        << QStringList{"AppData::setMcuType(32767)", "AppData::setTunerType(-1)"} << QByteArray();
}

void tst_McuDispatch::normalMessages()
{
    QFETCH(uint, msg);
    QFETCH(uint, p1);
    QFETCH(uint, p2);
    QFETCH(QStringList, calls);
    QFETCH(QByteArray, reply);

    StdoutCapture out;
    dispatch(normal(msg, p1, p2));
    QCOMPARE(out.take(), QString::asprintf("Main app normal msg:%u, p1:%u, p2:%u.\n", msg, p1, p2).toLatin1());
    QCOMPARE(HostJournal::lines(), calls);
    QCOMPARE(m_service->pending(), reply.size());
    if (!reply.isEmpty())
        QCOMPARE(m_service->read(reply.size()).toHex(), reply.toHex());
}

void tst_McuDispatch::mcuTypeLine()
{
    dispatch(normal(13144, 0x00018001, 2));
    QCOMPARE(debugLines(), QStringList{"==========>MSG_M2A_MCU_TYPE: 98305 tuner type:  2"});
}

// The MCU waits for the acknowledgement; it must be on the wire before the
// activity manager starts on the command.
void tst_McuDispatch::activityReplyBeforeCommand()
{
    dispatch(normal(529, 13, 7));
    {
        QMutexLocker lock(&logCapture().mutex);
        QCOMPARE(logCapture().pendingAtCommand, 16);
    }
    QCOMPARE(m_service->read(16).toHex(), normal(12, 186, 0).toHex());
}

void tst_McuDispatch::longMessages_data()
{
    QTest::addColumn<uint>("kind");
    QTest::addColumn<uint>("msg");
    QTest::addColumn<QString>("receiver");

    const QString controller = QStringLiteral("BaseControl::RecevieMsgFromMcu");
    const QString frameToActivity = QStringLiteral("ActivityManager::handleMcuFrame");

    QTest::newRow("56 ignored") << 2u << 56u << QString();
    QTest::newRow("57 to the controller") << 2u << 57u << controller;
    QTest::newRow("58 ignored") << 2u << 58u << QString();
    QTest::newRow("63 ignored") << 2u << 63u << QString();
    QTest::newRow("64 to the controller") << 2u << 64u << controller;
    QTest::newRow("71 to the controller") << 2u << 71u << controller;
    QTest::newRow("78 to the controller") << 2u << 78u << controller;
    QTest::newRow("79 ignored") << 2u << 79u << QString();
    QTest::newRow("83 SIM data") << 2u << 83u << QStringLiteral("BaseControl::RecevieSIMMsgFromMcu");
    QTest::newRow("84 MCM data") << 2u << 84u << QStringLiteral("BaseControl::RecevieMCMMsgFromMcu");
    QTest::newRow("85 ignored") << 2u << 85u << QString();
    QTest::newRow("long 529 ignored") << 2u << 529u << QString();
    QTest::newRow("long 13078 ignored") << 2u << 13078u << QString();
    QTest::newRow("57 plus 2^32 as negative id ignored") << 2u << 0xFFFFFFC7u << QString();
    QTest::newRow("kind 3 id 12") << 3u << 12u << frameToActivity;
    QTest::newRow("kind 3 id 212") << 3u << 212u << frameToActivity;
    QTest::newRow("kind 3 id 57") << 3u << 57u << frameToActivity;
    QTest::newRow("kind 3 id 0") << 3u << 0u << frameToActivity;
    QTest::newRow("kind 0 ignored") << 0u << 57u << QString();
    QTest::newRow("kind 4 ignored") << 4u << 57u << QString();
    QTest::newRow("kind 0xFFFFFFFF ignored") << 0xFFFFFFFFu << 57u << QString();
}

void tst_McuDispatch::longMessages()
{
    QFETCH(uint, kind);
    QFETCH(uint, msg);
    QFETCH(QString, receiver);

    const QByteArray record = inboundRecord(kind, msg, QByteArray::fromHex("0102030405060708090a"));
    StdoutCapture out;
    dispatch(record);
    QCOMPARE(out.take(), QByteArray());

    const QStringList calls = HostJournal::lines();
    if (receiver.isEmpty()) {
        QCOMPARE(calls, QStringList());
    } else {
        QCOMPARE(calls.size(), 1);
        QVERIFY2(calls.first().startsWith(receiver + '('), qPrintable(calls.first()));
        // The whole record, header and zero padding included.
        QCOMPARE(HostPlatform::lastRecord().toHex(), record.toHex());
    }
    QCOMPARE(m_service->pending(), 0);
}

void tst_McuDispatch::keyStudy()
{
    dispatch(inboundRecord(2, 47, QByteArray::fromHex("010203040506" "1234" "ffff" "0000" "8000" "0001" "abcd" "eeee")));
    QCOMPARE(HostJournal::lines(),
             QStringList{"BaseControl::ReceiveKeyStudyMsgFromMcu(1 2 3 4 5 6; 4660 65535 0 32768 1 43981)"});
}

void tst_McuDispatch::autoTest_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("call");

    QTest::newRow("item 9") << QByteArray::fromHex("aa09010203040506")
                            << "BaseControl::RecevieAutoTestFromMcu(9, aa09010203040506)";
    QTest::newRow("item 240 zero-extended") << QByteArray::fromHex("00f0")
                                            << "BaseControl::RecevieAutoTestFromMcu(240, 00f0000000000000)";
}

void tst_McuDispatch::autoTest()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, call);

    dispatch(inboundRecord(2, 112, payload));
    QCOMPARE(HostJournal::lines(), QStringList{call});
}

void tst_McuDispatch::mcuVersion_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("platformUp");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("text up to its NUL") << QByteArray("\x00V1.2\x00junk", 10) << true
        << QStringList{"PlatformControl::setMcuVersion(\"V1.2\")"};
    QTest::newRow("Latin-1 text") << QByteArray("\x00" "caf\xe9\x00", 6) << true
        << QStringList{QStringLiteral("PlatformControl::setMcuVersion(\"caf\u00e9\")")};
    QTest::newRow("empty text") << QByteArray(2, '\0') << true
        << QStringList{"PlatformControl::setMcuVersion(\"\")"};
    QTest::newRow("no NUL before the record's end") << QByteArray(1, '\0') + repeated('x', 255) << true
        << QStringList{"PlatformControl::setMcuVersion(\"" + QString(255, 'x') + "\")"};
    QTest::newRow("platform control missing") << QByteArray("\x00V1.2\x00", 6) << false << QStringList();
}

void tst_McuDispatch::mcuVersion()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, platformUp);
    QFETCH(QStringList, calls);

    HostPlatform::setPlatformControlAvailable(platformUp);
    dispatch(inboundRecord(2, 25, payload));
    QCOMPARE(HostJournal::lines(), calls);
}

void tst_McuDispatch::uuid_data()
{
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QString>("uuid");

    QTest::newRow("prefix and number") << QByteArray("AB") << QByteArray::fromHex("00003039") << "AB00000000012345";
    QTest::newRow("zero at 13, no prefix") << QByteArray("\x00" "B", 2) << QByteArray::fromHex("00003039") << "00000000012345";
    QTest::newRow("zero at 14, one character") << QByteArray("A\x00", 2) << QByteArray::fromHex("00003039") << "A00000000012345";
    QTest::newRow("number 0") << QByteArray("AB") << QByteArray::fromHex("00000000") << "AB00000000000000";
    QTest::newRow("largest number") << QByteArray("AB") << QByteArray::fromHex("ffffffff") << "AB00004294967295";
    QTest::newRow("UTF-8 prefix") << QByteArray("\xc3\xa9") << QByteArray::fromHex("00000001")
                                  << QStringLiteral("\u00e900000000000001");
}

void tst_McuDispatch::uuid()
{
    QFETCH(QByteArray, prefix);
    QFETCH(QByteArray, number);
    QFETCH(QString, uuid);

    // Offsets 15 and 16 carry bytes the identity must not pick up.
    dispatch(inboundRecord(2, 212, QByteArray(1, '\x5a') + prefix + QByteArray("\x7e\x7e") + number));
    QCOMPARE(HostJournal::lines(), QStringList{"AppData::setUUID(\"" + uuid + "\")"});
    QCOMPARE(debugLines(), QStringList{QStringLiteral("==========>uuid: \"%1\" len= %2").arg(uuid).arg(uuid.size())});
}

void tst_McuDispatch::versionReport_data()
{
    QTest::addColumn<QString>("customer");
    QTest::addColumn<QString>("sdk");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("empty customer and SDK versions")
        << QString() << QString() << "20240101.1200"
        << QByteArray::fromHex("1000000d") + "20240101.1200";
    QTest::newRow("two, three and thirteen characters")
        << "C1" << "S23" << "2026120612000"
        << QByteArray::fromHex("1502") + "C1" + QByteArray::fromHex("03") + "S23" + QByteArray::fromHex("0d")
            + "2026120612000";
    QTest::newRow("date cut to 13 bytes")
        << "C" << "S" << "20261206.1200.rc1"
        << QByteArray::fromHex("1201") + "C" + QByteArray::fromHex("01") + "S" + QByteArray::fromHex("0d")
            + "20261206.1200";
    QTest::newRow("short date zero-filled")
        << "C" << "S" << "2024"
        << QByteArray::fromHex("1201") + "C" + QByteArray::fromHex("01") + "S" + QByteArray::fromHex("0d")
            + "2024" + QByteArray(9, '\0');
    QTest::newRow("39-byte versions kept whole")
        << QString(39, 'c') << QString(39, 's') << "2026120612000"
        << QByteArray::fromHex("5e27") + repeated('c', 39) + QByteArray::fromHex("27") + repeated('s', 39)
            + QByteArray::fromHex("0d") + "2026120612000";
    QTest::newRow("overlong versions cut to 39 bytes")
        << QString(50, 'c') << QString(40, 's') << QString(30, 'd')
        << QByteArray::fromHex("5e27") + repeated('c', 39) + QByteArray::fromHex("27") + repeated('s', 39)
            + QByteArray::fromHex("0d") + repeated('d', 13);
}

void tst_McuDispatch::versionReport()
{
    QFETCH(QString, customer);
    QFETCH(QString, sdk);
    QFETCH(QString, date);
    QFETCH(QByteArray, payload);

    HostPlatform::setVersions(customer, sdk, date);
    HostJournal::clear();
    dispatch(normal(13080, 0, 0));
    QCOMPARE(m_service->read(264).toHex(), outboundLong(2, 205, payload).toHex());
    QCOMPARE(m_service->pending(), 0);
    QCOMPARE(HostJournal::lines(),
             (QStringList{"PlatformControl::getCustomerVer() = \"" + customer + '"',
                          "PlatformControl::getSDKVer() = \"" + sdk + '"',
                          "BaseControl::getDateVersion() = \"" + date + '"'}));
}

// The MCU service asks through the socket and hears the answers on it.
void tst_McuDispatch::repliesEndToEnd()
{
    HostPlatform::setVersions("C1", "S23", "2026120612000");
    QVERIFY(m_service->write(normal(529, 13, 7) + normal(13080, 0, 0)));

    QCOMPARE(m_service->read(16).toHex(), normal(12, 186, 0).toHex());
    const QByteArray report = QByteArray::fromHex("1502") + "C1" + QByteArray::fromHex("03") + "S23"
        + QByteArray::fromHex("0d") + "2026120612000";
    QCOMPARE(m_service->read(264).toHex(), outboundLong(2, 205, report).toHex());
    QTRY_VERIFY(HostJournal::lines().contains("ActivityManager::handleMcuCommand(7)"));
}

QTEST_GUILESS_MAIN(tst_McuDispatch)
#include "tst_mcudispatch.moc"

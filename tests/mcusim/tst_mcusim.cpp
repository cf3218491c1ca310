#include <QtTest>

#include <framebuilder.h>
#include <framedecoder.h>
#include <mcusimulator.h>
#include <scenariocommand.h>
#include <scenariorunner.h>

#include <mcutestframes.h>
#include <unixpeer.h>

#include <cstdlib>
#include <ctime>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using McuTestFrames::normal;
using McuTestFrames::outboundLong;
using McuTestFrames::word;

Q_DECLARE_METATYPE(ScenarioCommand::Op)

namespace {

// What the MCU service sends: kind, msg, len = 12 + payload, payload, unpadded.
QByteArray inboundLong(uint32_t kind, uint32_t msg, const QByteArray &payload)
{
    return word(kind) + word(msg) + word(uint32_t(12 + payload.size())) + payload;
}

QByteArray versionInfo(const QByteArray &c, const QByteArray &s, const QByteArray &d13)
{
    return outboundLong(2, 205, char(c.size() + s.size() + 16) + (char(c.size()) + c) + (char(s.size()) + s) + '\r' + d13);
}

// The launcher's side of the link: connects to the simulator's abstract name.
int connectTo(const std::string &name)
{
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data() + 1, name.size() - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const socklen_t len = socklen_t(offsetof(struct sockaddr_un, sun_path) + name.size());
    if (::connect(fd, reinterpret_cast<struct sockaddr *>(&addr), len) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// Exactly n bytes, or nothing at end of stream or after 5 s.
QByteArray readFrom(int fd, int n)
{
    QByteArray got(n, '\0');
    return unixpeer::readFull(fd, got.data(), size_t(n), 5000) ? got : QByteArray();
}

bool writeTo(int fd, const QByteArray &bytes)
{
    return unixpeer::writeFull(fd, bytes.constData(), size_t(bytes.size()));
}

} // namespace

class tst_McuSim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void decodeLauncherFrame_data();
    void decodeLauncherFrame();
    void splitStream_data();
    void splitStream();
    void buildMcuFrame_data();
    void buildMcuFrame();
    void parseCommand_data();
    void parseCommand();
    void refuseBadLine_data();
    void refuseBadLine();
    void linkWithReconnect();
    void scenarioOutcome_data();
    void scenarioOutcome();
};

void tst_McuSim::initTestCase()
{
    // Clock frames are shown in local time.
    qputenv("TZ", "UTC");
    tzset();
}

void tst_McuSim::decodeLauncherFrame_data()
{
    // The frame's name is the text's first word.
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("text");

    QTest::newRow("app ready") << QByteArray::fromHex("01000000 0c000000 11000000 02000000")
                               << "A2M_CMD_APP_READY (msg 12, p1 17, p2 2)";
    QTest::newRow("app ready, wrong state") << normal(12, 17, 1)
                                            << "A2M_CMD_APP_READY (msg 12, p1 17, p2 1) [malformed: unexpected p2]";
    QTest::newRow("activity reply") << normal(12, 186, 0) << "A2M_CMD_ACTIVITY_REPLY (msg 12, p1 186, p2 0)";
    QTest::newRow("current source") << normal(12, 5, 0x00010003) << "A2M_CMD_CUR_SOURCE source 3 arg 1 (msg 12, p1 5, p2 65539)";
    QTest::newRow("unknown command") << normal(12, 99, 4) << "NORMAL (msg 12, p1 99, p2 4)";
    QTest::newRow("any normal id") << normal(529, 13, 7) << "NORMAL (msg 529, p1 13, p2 7)";
    QTest::newRow("key colour") << outboundLong(2, 19, QByteArray::fromHex("04010a141e")) << "MSG_A2M_KEY_COLOR 10 20 30";
    QTest::newRow("key colour, bad lead") << outboundLong(2, 19, QByteArray::fromHex("04020a141e"))
                                          << "MSG_A2M_KEY_COLOR 10 20 30 [malformed: lead bytes are not 4 1]";
    QTest::newRow("time clock") << outboundLong(2, 195, QByteArray::fromHex("04 6592 8d20"))
                                << "MSG_A2M_TIME_CLOCK 2024-01-01 10:00:00 local (1704103200)";
    QTest::newRow("version") << versionInfo("C1", "SDK", "20240101-1200")
                             << "MSG_A2M_VERSION_INFO customer \"C1\" sdk \"SDK\" date \"20240101-1200\"";
    QTest::newRow("version, quote and control bytes") << versionInfo("a\"b", QByteArray("\x01\xff", 2), "d")
                                                      << "MSG_A2M_VERSION_INFO customer \"a\\\"b\" sdk \"\\x01\\xff\" date \"d\"";
    QByteArray badCount = versionInfo("C1", "SDK", "20240101-1200");
    badCount[8] = 20;
    QTest::newRow("version, wrong count") << badCount << "MSG_A2M_VERSION_INFO customer \"C1\" sdk \"SDK\" date \"20240101-1200\" "
                                                         "[malformed: count byte disagrees with the texts]";
    QTest::newRow("version, C overruns") << outboundLong(2, 205, QByteArray::fromHex("10ff"))
                                         << "MSG_A2M_VERSION_INFO 10 ff [malformed: C overruns the frame]";
    QTest::newRow("unknown long") << outboundLong(2, 77, QByteArray::fromHex("aa")) << "LONG msg 77 data aa";
    QTest::newRow("CAN") << outboundLong(3, 195, QByteArray::fromHex("04")) << "CAN msg 195 data 04";
    QTest::newRow("kind 0") << outboundLong(0, 0, QByteArray()) << "UNKNOWN kind 0 msg 0 data (all zero)";
    QTest::newRow("normal cut at 10 bytes") << normal(12, 17, 2).left(10)
                                            << "UNKNOWN kind 1: 01 00 00 00 0c 00 00 00 11 [malformed: truncated frame]";
    QTest::newRow("two bytes") << QByteArray::fromHex("0100") << "UNKNOWN 01 [malformed: shorter than a kind word]";
}

void tst_McuSim::decodeLauncherFrame()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, text);

    const DecodedFrame d = FrameDecoder::decode(reinterpret_cast<const unsigned char *>(frame.constData()), size_t(frame.size()));
    QCOMPARE(QString::fromStdString(d.text), text);
    QCOMPARE(QString::fromStdString(d.name), text.section(' ', 0, 0));
    QCOMPARE(d.wellFormed, !text.contains("[malformed: "));
    QVERIFY(FrameDecoder::isKnownName(d.name));
}

void tst_McuSim::splitStream_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("leftOver");

    const QByteArray ready = normal(12, 17, 2);
    const QByteArray clock = outboundLong(2, 195, QByteArray::fromHex("0465928d20"));
    const QStringList all = {"A2M_CMD_APP_READY", "MSG_A2M_TIME_CLOCK", "A2M_CMD_ACTIVITY_REPLY"};
    QTest::newRow("one byte at a time") << ready + clock + normal(12, 186, 0) << 1 << all << 0;
    QTest::newRow("long frame unfinished") << ready + clock.left(100) << 64 << QStringList{"A2M_CMD_APP_READY"} << 100;
    QTest::newRow("stray kind eats 264 bytes") << word(7) + QByteArray(260, '\0') + ready << 50
                                               << QStringList{"UNKNOWN", "A2M_CMD_APP_READY"} << 0;
}

void tst_McuSim::splitStream()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, chunk);
    QFETCH(QStringList, names);
    QFETCH(int, leftOver);

    FrameDecoder decoder;
    QStringList got;
    for (int at = 0; at < stream.size(); at += chunk) {
        const QByteArray part = stream.mid(at, chunk);
        for (const DecodedFrame &d : decoder.feed(reinterpret_cast<const unsigned char *>(part.constData()), size_t(part.size())))
            got << QString::fromStdString(d.name);
    }
    QCOMPARE(got, names);
    QCOMPARE(int(decoder.buffered()), leftOver);
    decoder.reset();
    QCOMPARE(int(decoder.buffered()), 0);
}

void tst_McuSim::buildMcuFrame_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("key") << "send key 5 1" << QByteArray::fromHex("01000000 16330000 05000000 01000000");
    QTest::newRow("eject") << "send eject" << normal(529, 47, 0);
    QTest::newRow("get version") << "send get-version" << normal(13080, 0, 0);
    QTest::newRow("mcu type in hex") << "send mcu-type 0x00018001 0xFFFFFFFF" << normal(13144, 0x18001, 0xFFFFFFFF);
    QTest::newRow("mcu time big-endian at 13") << "send mcu-time 0x01020304"
                                               << QByteArray::fromHex("02000000 0c000000 11000000 00 01020304");
    QTest::newRow("rds time") << "send rds-time 7 5" << QByteArray::fromHex("02000000 52000000 0f000000 00 07 05");
    QTest::newRow("rds time out of range") << "send rds-time 25 61" << inboundLong(2, 82, QByteArray::fromHex("00193d"));
    QTest::newRow("mcu version") << "send mcu-version V1.2  beta  # comment"
                                 << inboundLong(2, 25, QByteArray(1, '\0') + QByteArray("V1.2  beta", 11));
    QTest::newRow("mcu version, longest") << "send mcu-version " + QString(254, 'x')
                                          << inboundLong(2, 25, QByteArray(1, '\0') + QByteArray(254, 'x') + '\0');
    QTest::newRow("uuid") << "send uuid AB 12345" << QByteArray::fromHex("02000000 d4000000 15000000 00 4142 0000 00003039");
    QTest::newRow("key study") << "send key-study 1 2 3 4 5 6 258 0xFFFF"
                               << inboundLong(2, 47, QByteArray::fromHex("010203040506 0102 ffff") + QByteArray(8, '\0'));
    QTest::newRow("long") << "send long 57 0102 03" << inboundLong(2, 57, QByteArray::fromHex("010203"));
    QTest::newRow("CAN, full payload") << "send can 3 " + QString(512, 'a') << inboundLong(3, 3, QByteArray(256, char(0xaa)));
    QTest::newRow("raw bytes") << "send raw 02000000 0c000000 00000000" << QByteArray::fromHex("020000000c00000000000000");
}

void tst_McuSim::buildMcuFrame()
{
    QFETCH(QString, line);
    QFETCH(QByteArray, frame);

    ScenarioCommand c;
    std::string error;
    QVERIFY2(ScenarioCommand::parse(line.toStdString(), &c, &error), error.c_str());
    QCOMPARE(c.op, ScenarioCommand::Send);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(c.frame.data()), int(c.frame.size())).toHex(' '), frame.toHex(' '));
    QVERIFY(!c.what.empty());
}

void tst_McuSim::parseCommand_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<ScenarioCommand::Op>("op");
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("match");

    QTest::newRow("wait-connect") << "wait-connect 5000" << ScenarioCommand::WaitConnect << 5000 << "" << "";
    QTest::newRow("expect with text") << "expect MSG_A2M_TIME_CLOCK 0x10 2024-01-01 10:00"
                                      << ScenarioCommand::Expect << 16 << "MSG_A2M_TIME_CLOCK" << "2024-01-01 10:00";
    QTest::newRow("expect-none") << "expect-none NORMAL 300" << ScenarioCommand::ExpectNone << 300 << "NORMAL" << "";
    QTest::newRow("disconnect") << "disconnect" << ScenarioCommand::Disconnect << 0 << "" << "";
}

void tst_McuSim::parseCommand()
{
    QFETCH(QString, line);
    QFETCH(ScenarioCommand::Op, op);
    QFETCH(int, ms);
    QFETCH(QString, name);
    QFETCH(QString, match);

    ScenarioCommand c;
    std::string error;
    QVERIFY2(ScenarioCommand::parse(line.toStdString(), &c, &error), error.c_str());
    QCOMPARE(c.op, op);
    QCOMPARE(c.ms, ms);
    QCOMPARE(QString::fromStdString(c.name), name);
    QCOMPARE(QString::fromStdString(c.match), match);
}

void tst_McuSim::refuseBadLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("error");

    QTest::newRow("unknown command") << "press 5" << "unknown command \"press\"";
    QTest::newRow("expect, misspelt name") << "expect A2M_CMD_APPREADY 2000" << "no frame is called \"A2M_CMD_APPREADY\"";
    QTest::newRow("expect without time") << "expect A2M_CMD_APP_READY" << "usage: expect NAME MS [TEXT]";
    QTest::newRow("time too long") << "sleep 3600001" << "a time in milliseconds";
    QTest::newRow("unknown frame") << "send beep" << "unknown frame \"beep\"";
    QTest::newRow("key above 32 bits") << "send key 4294967296 1" << "\"4294967296\" is not a number";
    QTest::newRow("trailing letters") << "send activity 12ab" << "\"12ab\" is not a number";
    QTest::newRow("hour above a byte") << "send rds-time 256 0" << "\"256\" is not a number from 0 to 255";
    QTest::newRow("uuid prefix of 3") << "send uuid ABC 1" << "at most 2 characters";
    QTest::newRow("mcu version too long") << "send mcu-version " + QString(255, 'x') << "usage: send mcu-version";
    QTest::newRow("odd hex digits") << "send long 57 012" << "odd number of hex digits";
    QTest::newRow("payload of 257") << "send long 57 " + QString(514, '0') << "more than 256 bytes";
}

void tst_McuSim::refuseBadLine()
{
    QFETCH(QString, line);
    QFETCH(QString, error);

    ScenarioCommand c;
    std::string why;
    QVERIFY(!ScenarioCommand::parse(line.toStdString(), &c, &why));
    QVERIFY2(QString::fromStdString(why).contains(error), why.c_str());
}

void tst_McuSim::linkWithReconnect()
{
    const unixpeer::Names names("mcusim");
    McuSimulator sim([](McuSimulator::LineKind, const std::string &) {});
    std::string why;
    QVERIFY2(sim.listen(names.serviceName, &why), why.c_str());

    const int first = connectTo(names.serviceName);
    QVERIFY(writeTo(first, normal(12, 17, 2)));
    QVERIFY2(sim.expect("A2M_CMD_APP_READY", "p2 2", 5000, &why), why.c_str());
    QVERIFY(!sim.expect("A2M_CMD_APP_READY", "", 0, &why)); // claimed once only
    QVERIFY2(sim.send(FrameBuilder::keyPressed(5, 1), &why), why.c_str());
    QCOMPARE(readFrom(first, 16), normal(13078, 5, 1));

    // A reconnecting launcher replaces the old connection.
    const int second = connectTo(names.serviceName);
    const QByteArray beat = normal(12, 190, 0);
    QVERIFY(writeTo(second, beat));
    QVERIFY2(sim.expect("A2M_CMD_HEARTBEAT", "", 5000, &why), why.c_str());
    QCOMPARE(readFrom(first, 1), QByteArray());
    ::close(first);

    QVERIFY2(sim.expectNone("A2M_CMD_HEARTBEAT", "", 0, &why), why.c_str());
    QVERIFY(writeTo(second, beat));
    QVERIFY(!sim.expectNone("A2M_CMD_HEARTBEAT", "", 5000, &why));
    QVERIFY(QString::fromStdString(why).contains("unwanted A2M_CMD_HEARTBEAT"));

    ::close(second);
    for (int i = 0; i < 100 && sim.isConnected(); ++i)
        sim.pump(50);
    QVERIFY(!sim.send(FrameBuilder::eject(), &why));
    QCOMPARE(QString::fromStdString(why), QStringLiteral("the launcher is not connected"));
}

void tst_McuSim::scenarioOutcome_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("lastLine");

    QTest::newRow("all met") << QStringList{"wait-connect 5000", "expect A2M_CMD_EJECT_DISC 5000", "send activity 7"}
                             << int(ScenarioRunner::Passed) << "== test passed: 1 expectations met";
    QTest::newRow("unmet expectation") << QStringList{"wait-connect 5000", "# the eject is all that comes",
                                                      "expect A2M_CMD_APP_READY 0  # none"}
                                       << int(ScenarioRunner::Failed)
                                       << "!! FAILED test:3: expect A2M_CMD_APP_READY 0: no A2M_CMD_APP_READY within 0 ms";
    QTest::newRow("bad line, nothing runs") << QStringList{"send activity 7", "expect NOTHING 1"}
                                            << int(ScenarioRunner::Unusable) << "!! test:2: no frame is called \"NOTHING\" (see help)";
}

void tst_McuSim::scenarioOutcome()
{
    QFETCH(QStringList, lines);
    QFETCH(int, exitCode);
    QFETCH(QString, lastLine);

    const unixpeer::Names names("mcusim-run");
    QStringList shown;
    const McuSimulator::LineSink sink = [&shown](McuSimulator::LineKind, const std::string &line) {
        shown << QString::fromStdString(line);
    };
    McuSimulator sim(sink);
    std::string why;
    QVERIFY2(sim.listen(names.serviceName, &why), why.c_str());
    const int launcher = connectTo(names.serviceName);
    QVERIFY(writeTo(launcher, normal(12, 140, 0)));

    std::vector<std::string> scenario;
    for (const QString &line : lines)
        scenario.push_back(line.toStdString());
    ScenarioRunner runner(sim, sink);
    QCOMPARE(runner.runLines(scenario, "test"), exitCode);
    QCOMPARE(shown.last(), lastLine);
    if (exitCode == ScenarioRunner::Passed)
        QCOMPARE(readFrom(launcher, 16), normal(529, 13, 7));
    if (exitCode == ScenarioRunner::Unusable)
        QVERIFY(!shown.join('\n').contains("-> "));
    ::close(launcher);
}

QTEST_GUILESS_MAIN(tst_McuSim)
#include "tst_mcusim.moc"

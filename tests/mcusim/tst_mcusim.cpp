#include <QtTest>

#include <framedecoder.h>
#include <mcucapture.h>
#include <mcusimulator.h>
#include <mcusocketname.h>
#include <scenariocommand.h>
#include <scenariorunner.h>

#include <mcutestframes.h>
#include <unixpeer.h>
#include <testmessages.h>

#include <atomic>
#include <ctime>
#include <thread>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using McuTestFrames::inboundLong;
using McuTestFrames::normal;
using McuTestFrames::outboundLong;

Q_DECLARE_METATYPE(ScenarioCommand::Op)

namespace {

// The launcher's side of the link.
int connectTo(const std::string &name)
{
    struct sockaddr_un addr;
    const socklen_t len = mcuSocketAddress(name.data(), name.size(), &addr);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
    void initTestCase() { TestMessages::install(); }
    void decodeLauncherFrame_data();
    void decodeLauncherFrame();
    void parseLine_data();
    void parseLine();
    void scenariosOverReconnectingLink();
    void readsWhileItWaitsToSend();
};

void tst_McuSim::decodeLauncherFrame_data()
{
    // Clock frames are shown in local time.
    qputenv("TZ", "UTC");
    tzset();
    // The frame's name is the text's first word. A malformed frame's text
    // holds what a well-formed one would show.
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("text");
    const auto longFrame = [](uint32_t msg, const char *hex) { return outboundLong(2, msg, QByteArray::fromHex(hex)); };

    QTest::newRow("app ready, p2 1") << normal(12, 17, 1) << "A2M_CMD_APP_READY (msg 12, p1 17, p2 1) [malformed: unexpected p2]";
    QTest::newRow("current source") << normal(12, 5, 0x00010003) << "A2M_CMD_CUR_SOURCE source 3 arg 1 (msg 12, p1 5, p2 65539)";
    QTest::newRow("key study, p2 256") << normal(12, 189, 256) << "A2M_CMD_KEY_STUDY byte 256 (msg 12, p1 189, p2 256) [malformed: p2 is not a byte]";
    QTest::newRow("command id under another msg") << normal(529, 17, 2) << "NORMAL (msg 529, p1 17, p2 2)";
    QTest::newRow("key colour, bad lead") << longFrame(19, "04020a141e") << "MSG_A2M_KEY_COLOR 10 20 30 [malformed: lead bytes are not 4 1]";
    QTest::newRow("heartbeat switch") << longFrame(194, "031c01") << "MSG_A2M_HEARTBEAT_ONOFF 1";
    QTest::newRow("time clock, last byte set") << longFrame(195, "0465928d20").replace(263, 1, "\x01")
                                               << "MSG_A2M_TIME_CLOCK 2024-01-01 10:00:00 local (1704103200) [malformed: bytes after the time]";
    QTest::newRow("media info") << longFrame(196, "0102") << "MSG_A2M_MEDIA_PLAY_INFO data 01 02";
    QTest::newRow("key study") << longFrame(201, "0107") << "MSG_A2M_KEY_STUDY type 1 byte 7";
    // Count byte 3 + 2 + 16, each text after its length, then 13 and the date.
    QTest::newRow("version, quote and control bytes") << outboundLong(2, 205, QByteArray::fromHex("15 03 612262 02 01ff 0d") + "20240101-1200")
                                                      << "MSG_A2M_VERSION_INFO customer \"a\\\"b\" sdk \"\\x01\\xff\" date \"20240101-1200\"";
    QTest::newRow("version, C overruns") << longFrame(205, "10ff") << "MSG_A2M_VERSION_INFO 10 ff [malformed: C overruns the frame]";
    QTest::newRow("CAN") << outboundLong(3, 195, QByteArray::fromHex("04")) << "CAN msg 195 data 04";
    QTest::newRow("kind 0") << outboundLong(0, 0, QByteArray()) << "UNKNOWN kind 0 msg 0 data (all zero)";
    QTest::newRow("normal cut at 10") << normal(12, 17, 2).left(10) << "UNKNOWN kind 1: 01 00 00 00 0c 00 00 00 11 [malformed: truncated frame]";
    QTest::newRow("two bytes") << QByteArray::fromHex("0100") << "UNKNOWN 01 [malformed: shorter than a kind word]";
}

void tst_McuSim::decodeLauncherFrame()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, text);

    // That a frame decodes the same in a stream cut anywhere is the fuzz target's property.
    const auto *bytes = reinterpret_cast<const unsigned char *>(frame.constData());
    const DecodedFrame d = FrameDecoder::decode(bytes, size_t(frame.size()));
    QCOMPARE(QString::fromStdString(d.text), text);
    QCOMPARE(QString::fromStdString(d.name), text.section(' ', 0, 0));
    QCOMPARE(d.wellFormed, !text.contains("[malformed: "));
}

void tst_McuSim::parseLine_data()
{
    // A refused line is a Nothing row with the reason in text; an accepted one has
    // "NAME MATCH" there, or for a send the frame it builds.
    QTest::addColumn<QString>("line");
    QTest::addColumn<ScenarioCommand::Op>("op");
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("text");

    const ScenarioCommand::Op refused = ScenarioCommand::Nothing, send = ScenarioCommand::Send;
    const auto hex = [](const QByteArray &frame) { return QString(frame.toHex(' ')); };
    QTest::newRow("expect, hex time, text") << "expect LONG 0x10 a  b  # x" << ScenarioCommand::Expect << 16 << "LONG a  b";
    QTest::newRow("mcu time, big-endian") << "send mcu-time 0x01020304" << send << 0 << hex(QByteArray::fromHex("02000000 0c000000 11000000 00 01020304"));
    QTest::newRow("mcu version") << "send mcu-version V1.2  beta  # cut" << send << 0 << hex(inboundLong(2, 25, QByteArray(1, '\0') + QByteArray("V1.2  beta", 11)));
    QTest::newRow("uuid") << "send uuid AB 12345" << send << 0 << hex(QByteArray::fromHex("02000000 d4000000 15000000 00 4142 0000 00003039"));
    QTest::newRow("key study, values missing") << "send key-study 1 2 3 4 5 6 258" << send << 0
                                               << hex(inboundLong(2, 47, QByteArray::fromHex("010203040506 0102") + QByteArray(10, '\0')));
    QTest::newRow("CAN, full payload") << "send can 3 " + QString(512, 'a') << send << 0 << hex(inboundLong(3, 3, QByteArray(256, char(0xaa))));
    QTest::newRow("unknown command") << "press 5" << refused << 0 << "unknown command \"press\"";
    QTest::newRow("expect without time") << "expect A2M_CMD_APP_READY" << refused << 0 << "usage: expect NAME MS [TEXT]";
    QTest::newRow("unknown frame") << "send beep" << refused << 0 << "unknown frame \"beep\"";
    QTest::newRow("key without state") << "send key 5" << refused << 0 << "usage: send key KEY STATE";
    QTest::newRow("trailing letters") << "send activity 12ab" << refused << 0 << "\"12ab\" is not a number";
    QTest::newRow("hour above a byte") << "send rds-time 256 0" << refused << 0 << "\"256\" is not a number from 0 to 255";
    QTest::newRow("uuid prefix of 3") << "send uuid ABC 1" << refused << 0 << "at most 2 characters";
    QTest::newRow("mcu version of 255") << "send mcu-version " + QString(255, 'x') << refused << 0 << "usage: send mcu-version";
    QTest::newRow("odd hex digits") << "send long 57 012" << refused << 0 << "odd number of hex digits";
    QTest::newRow("payload of 257") << "send long 57 " + QString(514, '0') << refused << 0 << "more than 256 bytes";
    QTest::newRow("comment past the line limit") << "# " + QString(16383, 'x') << refused << 0 << "a line longer than 16384 bytes";
}

void tst_McuSim::parseLine()
{
    QFETCH(QString, line);
    QFETCH(ScenarioCommand::Op, op);
    QFETCH(int, ms);
    QFETCH(QString, text);

    ScenarioCommand c;
    std::string why;
    const bool accepted = ScenarioCommand::parse(line.toStdString(), &c, &why);
    QCOMPARE(accepted, op != ScenarioCommand::Nothing);
    const QByteArray frame(reinterpret_cast<const char *>(c.frame.data()), int(c.frame.size()));
    const QString got = op == ScenarioCommand::Send ? QString(frame.toHex(' '))
                                                    : QString::fromStdString(accepted ? c.name + ' ' + c.match : why).trimmed();
    QVERIFY2(accepted ? got == text : got.contains(text), qPrintable(got));
    QCOMPARE(c.op, op);
    QCOMPARE(c.ms, ms);
}

// The session is recorded too: frames of both directions, and the links the
// launcher's end made and ended. Those the simulator ends are in the capture
// test's session.
void tst_McuSim::scenariosOverReconnectingLink()
{
    QTemporaryDir dir;
    const std::string capture = dir.filePath("session.pcap").toStdString();
    const unixpeer::Names names("mcusim");
    QStringList shown;
    const McuSimulator::LineSink sink = [&shown](McuSimulator::LineKind, const std::string &line) { shown << QString::fromStdString(line); };
    McuSimulator sim(sink);
    ScenarioRunner runner(sim, sink);
    // The exit code, then the last line shown.
    const auto run = [&](const std::vector<std::string> &lines) {
        const int code = runner.runLines(lines, "test");
        return QString::number(code) + ' ' + shown.last();
    };
    std::string why;
    QVERIFY2(sim.captureTo(capture, &why), why.c_str());
    QVERIFY2(sim.listen(names.serviceName, &why), why.c_str());

    // The first connection ends inside a frame, which the next one must not inherit.
    const int first = connectTo(names.serviceName);
    QVERIFY(writeTo(first, normal(12, 17, 2) + normal(12, 140, 0).left(8)));
    QCOMPARE(run({"wait-connect 5000", "expect A2M_CMD_APP_READY 5000 p2 2", "send key 5 1"}), QString("0 == test passed: 1 expectations met"));
    QCOMPARE(readFrom(first, 16), normal(13078, 5, 1));
    QCOMPARE(run({"# a frame is claimed once", "expect A2M_CMD_APP_READY 0  # gone", "send eject"}),
             QString("1 !! FAILED test:2: expect A2M_CMD_APP_READY 0: no A2M_CMD_APP_READY within 0 ms"));

    const int second = connectTo(names.serviceName);
    QVERIFY(writeTo(second, normal(12, 190, 0)));
    QCOMPARE(run({"expect A2M_CMD_HEARTBEAT 5000", "expect-none A2M_CMD_HEARTBEAT 0"}), QString("0 == test passed: 2 expectations met"));
    // Replaced, and the eject after the failed line never went out.
    QCOMPARE(readFrom(first, 1), QByteArray());
    ::close(first);
    QVERIFY(writeTo(second, normal(12, 190, 0)));
    QCOMPARE(run({"expect-none A2M_CMD_HEARTBEAT 5000"}),
             QString("1 !! FAILED test:1: expect-none A2M_CMD_HEARTBEAT 5000: an unwanted A2M_CMD_HEARTBEAT arrived"));

    // One bad line and nothing is sent: the next frame on the wire is the later eject.
    QCOMPARE(run({"send activity 7", "expect NOTHING 1"}), QString("2 !! test:2: no frame is called \"NOTHING\" (see help)"));
    QCOMPARE(run({"send eject"}), QString("0 == test passed: 0 expectations met"));
    QCOMPARE(readFrom(second, 16), normal(529, 47, 0));

    ::close(second);
    QTRY_VERIFY_WITH_TIMEOUT((sim.pump(50), !sim.isConnected()), 5000);
    QCOMPARE(run({"send eject"}), QString("1 !! FAILED test:1: send eject: the launcher is not connected"));

    std::vector<McuCaptureRecord> records;
    QVERIFY2(McuCaptureReader::readAll(capture, &records, &why), why.c_str());
    QStringList got;
    uint64_t last = 0;
    for (const McuCaptureRecord &r : records) {
        const QByteArray bytes(reinterpret_cast<const char *>(r.bytes), int(r.keptLength));
        got << QString("%1 %2 %3").arg(r.direction == McuCaptureIn ? "in" : "out").arg(r.event).arg(QString(bytes.toHex()));
        QVERIFY(r.monotonicNs >= last);
        last = r.monotonicNs;
    }
    const auto frame = [](const char *dir, const QByteArray &bytes) { return QString(dir) + " 0 " + bytes.toHex(); };
    const QString heartbeat = frame("out", normal(12, 190, 0));
    QCOMPARE(got, QStringList({"out 1 ", frame("out", normal(12, 17, 2)), frame("in", normal(13078, 5, 1)), "out 2 ",
                               "out 1 ", heartbeat, heartbeat, frame("in", normal(529, 47, 0)), "out 2 "}));
}

void tst_McuSim::readsWhileItWaitsToSend()
{
    // Like the launcher's reader, which answers inline, this peer sends more
    // than a socket holds before it reads: the simulator must keep reading
    // while it waits for room, or both ends wait for each other.
    const unixpeer::Names names("mcusim-both");
    const McuSimulator::LineSink sink = [](McuSimulator::LineKind, const std::string &) {};
    McuSimulator sim(sink);
    ScenarioRunner runner(sim, sink);
    std::string why;
    QVERIFY2(sim.listen(names.serviceName, &why), why.c_str());
    const int fd = connectTo(names.serviceName);
    const int sends = 128, rawBytes = 4096;
    std::atomic<int> received{-1};
    std::thread peer([&] {
        received = writeTo(fd, normal(12, 190, 0).repeated(32768)) ? readFrom(fd, sends * rawBytes).size() : 0;
    });
    std::vector<std::string> lines{"wait-connect 5000"};
    lines.insert(lines.end(), sends, "send raw " + std::string(2 * rawBytes, '0'));
    const int code = runner.runLines(lines, "t");
    sim.pumpUntil([&received] { return received >= 0; }, 10000);
    peer.join();
    ::close(fd);
    QCOMPARE(code, 0);
    QCOMPARE(int(received), sends * rawBytes);
}

QTEST_GUILESS_MAIN(tst_McuSim)
#include "tst_mcusim.moc"

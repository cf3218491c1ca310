#include <QtTest>

#include <capturesession.h>
#include <inboundcommand.h>
#include <mcucapture.h>
#include <replaycomparison.h>
#include <scenariocommand.h>
#include <scenariowriter.h>

#include <childprogram.h>
#include <mcutestframes.h>
#include <testmessages.h>
#include <unixpeer.h>

#include <pcap/pcap.h>

using McuTestFrames::normal;
using McuTestFrames::outboundLong;
using McuTestFrames::word;

namespace {

std::vector<unsigned char> bytesOf(const QByteArray &b)
{
    return std::vector<unsigned char>(b.begin(), b.end());
}

QByteArray bigEndian(uint32_t value)
{
    QByteArray b(4, '\0');
    qToBigEndian(value, b.data());
    return b;
}

// What the MCU service sends: kind, msg, len = 12 + payload, payload.
QByteArray inboundLong(uint32_t kind, uint32_t msg, const QByteArray &payload)
{
    return word(kind) + word(msg) + word(uint32_t(12 + payload.size())) + payload;
}

QByteArray clockFrame(uint32_t seconds, char lead = 4)
{
    return outboundLong(2, 195, QByteArray(1, lead) + bigEndian(seconds));
}

QByteArray versionFrame(const QByteArray &customer)
{
    const QByteArray sdk = "SDK-2", date = "20240101.1200";
    return outboundLong(2, 205, char(customer.size() + sdk.size() + 16) + (char(customer.size()) + customer)
                                    + (char(sdk.size()) + sdk) + char(13) + date);
}

McuCaptureRecord frameRecord(McuCaptureDirection direction, const QByteArray &bytes, uint64_t ms, uint32_t fullLength = 0)
{
    McuCaptureRecord r = McuCaptureRecord::frame(direction, reinterpret_cast<const unsigned char *>(bytes.constData()),
                                                 size_t(bytes.size()));
    r.monotonicNs = ms * 1000000;
    if (fullLength)
        r.fullLength = fullLength;
    return r;
}

McuCaptureRecord linkRecord(McuCaptureEvent event, McuCaptureDirection by, uint64_t ms)
{
    McuCaptureRecord r = McuCaptureRecord::linkEvent(event, by);
    r.monotonicNs = ms * 1000000;
    return r;
}

bool writeCapture(const QString &path, const std::vector<McuCaptureRecord> &records, std::string *error)
{
    McuCaptureWriter writer;
    if (!writer.open(path.toStdString(), error))
        return false;
    for (const McuCaptureRecord &r : records) {
        if (!writer.write(r, error))
            return false;
    }
    return true;
}

// Records of another link-layer type or layout, written by libpcap as they stand.
bool writeForeign(const QString &path, int linkType, const QList<QByteArray> &records)
{
    pcap_t *dead = pcap_open_dead(linkType, 65535);
    pcap_dumper_t *dumper = dead ? pcap_dump_open(dead, path.toLocal8Bit().constData()) : nullptr;
    for (const QByteArray &bytes : records) {
        struct pcap_pkthdr header = {};
        header.caplen = header.len = uint32_t(bytes.size());
        if (dumper)
            pcap_dump(reinterpret_cast<u_char *>(dumper), &header, reinterpret_cast<const u_char *>(bytes.constData()));
    }
    if (dumper)
        pcap_dump_close(dumper);
    if (dead)
        pcap_close(dead);
    return dumper != nullptr;
}

QByteArray pseudoHeader(uint8_t direction, uint8_t event)
{
    QByteArray h(12, '\0');
    h[0] = char(direction);
    h[1] = char(event);
    return h;
}

// One frame on either side of a comparison.
struct Side {
    bool expected;
    size_t connection;
    size_t record;   // expected: its record; received: the last record played before it
    QByteArray frame;
    bool causeUnseen = false;
};

QString verdictText(const ReplayComparison::Entry &e)
{
    static const char *const names[] = {"matched", "missing", "extra", "different", "not compared"};
    QString text = names[e.verdict];
    if (e.verdict == ReplayComparison::Matched && !e.sameBytes)
        text += " by form";
    return text + (e.replayOnly ? " after " : " ") + QString::number(e.record);
}

// Whitespace runs made one space, so that the aligned comments compare plainly.
QStringList simplified(const std::vector<std::string> &lines, size_t from)
{
    QStringList out;
    for (size_t i = from; i < lines.size(); ++i)
        out << QString::fromStdString(lines[i]).simplified();
    return out;
}

// The launcher's warnings in its output (marked by QT_MESSAGE_PATTERN), but the machine's noise.
QStringList launcherWarnings(const QString &output)
{
    QStringList warnings;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        const bool marked = line.startsWith(QLatin1String("[warning] ")) || line.startsWith(QLatin1String("[critical] "));
        if (marked && !TestMessages::isEnvironmentNoise(line.section(QLatin1Char(' '), 1)))
            warnings << line;
    }
    return warnings;
}

QString rawWords(const QString &head, int zeroWords)
{
    return ("send raw " + head + QString(" 00000000").repeated(zeroWords)).simplified();
}

} // namespace

Q_DECLARE_METATYPE(QList<Side>)
Q_DECLARE_METATYPE(std::vector<McuCaptureRecord>)

class tst_McuReplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void compare_data();
    void compare();
    void sendLines_data();
    void sendLines();
    void scenarioFromCapture_data();
    void scenarioFromCapture();
    void refusesBadCapture_data();
    void refusesBadCapture();
    void replaysChangedCapture_data();
    void replaysChangedCapture();

private:
    QTemporaryDir m_dir;
};

void tst_McuReplay::initTestCase()
{
    TestMessages::install();
    QVERIFY(m_dir.isValid());
}

void tst_McuReplay::compare_data()
{
    QTest::addColumn<QList<Side>>("sides");
    QTest::addColumn<QStringList>("verdicts");
    QTest::addColumn<bool>("allArrived");   // in connection 0

    const QByteArray appReady = normal(12, 17, 2), reply = normal(12, 186, 0), heartbeat = normal(12, 190, 0);
    QTest::newRow("another order matches") << QList<Side>{{true, 0, 2, appReady}, {true, 0, 3, reply},
                                                          {false, 0, 3, reply}, {false, 0, 3, appReady}}
                                           << QStringList{"matched 2", "matched 3"} << true;
    QTest::newRow("clock and versions by form")
        << QList<Side>{{true, 0, 2, clockFrame(1704067200)}, {true, 0, 3, versionFrame("HU-1")},
                       {false, 0, 1, clockFrame(1704070000)}, {false, 0, 2, versionFrame("HU-1.0.22")}}
        << QStringList{"matched by form 2", "matched by form 3"} << true;
    QTest::newRow("malformed clock differs") << QList<Side>{{true, 0, 2, clockFrame(5)}, {false, 0, 1, clockFrame(5, 3)}}
                                             << QStringList{"different 2"} << true;
    QTest::newRow("changed argument differs") << QList<Side>{{true, 0, 2, reply}, {false, 0, 1, normal(12, 186, 1)}}
                                              << QStringList{"different 2"} << true;
    QTest::newRow("equal partner first") << QList<Side>{{true, 0, 2, normal(12, 5, 5)}, {true, 0, 3, normal(12, 5, 7)},
                                                        {false, 0, 1, normal(12, 5, 7)}}
                                         << QStringList{"missing 2", "matched 3"} << false;
    QTest::newRow("missing and extra") << QList<Side>{{true, 0, 2, normal(12, 5, 5)}, {false, 0, 4, heartbeat}}
                                       << QStringList{"missing 2", "extra after 4"} << false;
    QTest::newRow("each connection its own") << QList<Side>{{true, 0, 1, appReady}, {true, 1, 5, appReady},
                                                            {false, 0, 1, appReady}, {false, 0, 3, appReady}}
                                             << QStringList{"matched 1", "extra after 3", "missing 5"} << true;
    QTest::newRow("cause before the capture")
        << QList<Side>{{true, 0, 1, reply, true}, {true, 0, 3, heartbeat}, {false, 0, 0, appReady, true},
                       {false, 0, 2, heartbeat}}
        << QStringList{"not compared after 0", "not compared 1", "matched 3"} << false;
}

void tst_McuReplay::compare()
{
    QFETCH(QList<Side>, sides);
    QFETCH(QStringList, verdicts);
    QFETCH(bool, allArrived);

    ReplayComparison comparison;
    for (const Side &s : sides) {
        if (s.expected)
            comparison.expect(s.connection, s.record, bytesOf(s.frame), s.causeUnseen);
        else
            comparison.receive(s.connection, s.record, FrameDecoder::decode(bytesOf(s.frame).data(), size_t(s.frame.size())), s.causeUnseen);
    }
    QStringList got;
    for (const ReplayComparison::Entry &e : comparison.entries())
        got << verdictText(e);
    QCOMPARE(got, verdicts);
    QCOMPARE(comparison.allArrived(0), allArrived);
}

void tst_McuReplay::sendLines_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("key") << normal(13078, 5, 1) << QStringList{"send key 5 1"};
    QTest::newRow("activity") << normal(529, 13, 7) << QStringList{"send activity 7"};
    QTest::newRow("eject with an argument") << normal(529, 47, 3) << QStringList{"send normal 529 47 3"};
    QTest::newRow("mcu version") << inboundLong(2, 25, QByteArray("\0V1.2\0", 6)) << QStringList{"send mcu-version V1.2"};
    QTest::newRow("mcu version with a comment sign") << inboundLong(2, 25, QByteArray("\0V#1\0", 5))
                                                     << QStringList{"send long 25 00 56 23 31 00"};
    QTest::newRow("uuid without prefix") << inboundLong(2, 212, QByteArray(5, '\0') + bigEndian(7))
                                         << QStringList{"send uuid - 7"};
    QTest::newRow("can") << inboundLong(3, 99, "\x01\x02") << QStringList{"send can 99 01 02"};
    QTest::newRow("len word disagrees") << word(2) + word(12) + word(40) + word(0)
                                        << QStringList{"send raw 02000000 0c000000 28000000 00000000"};
    QTest::newRow("longer than a raw line") << word(2) + word(57) + word(5000) + QByteArray(4988, '\0')
                                            << QStringList{rawWords("02000000 39000000 88130000", 1021), rawWords("", 226)};
}

void tst_McuReplay::sendLines()
{
    QFETCH(QByteArray, frame);
    QFETCH(QStringList, lines);

    const std::vector<std::string> got = InboundCommand::sendLines(bytesOf(frame));
    QCOMPARE(simplified(got, 0), lines);
    // The lines put exactly the frame on the wire.
    QByteArray sent;
    for (const std::string &line : got) {
        ScenarioCommand c;
        std::string why;
        QVERIFY2(ScenarioCommand::parse(line, &c, &why), why.c_str());
        sent += QByteArray(reinterpret_cast<const char *>(c.frame.data()), int(c.frame.size()));
    }
    QCOMPARE(sent, frame);
}

void tst_McuReplay::scenarioFromCapture_data()
{
    QTest::addColumn<std::vector<McuCaptureRecord>>("records");
    QTest::addColumn<QStringList>("lines");   // after the two lines of the header

    const QByteArray appReady = normal(12, 17, 2);
    QTest::newRow("a connection from its start")
        << std::vector<McuCaptureRecord>{linkRecord(McuCaptureLinkUp, McuCaptureOut, 1000),
                                         frameRecord(McuCaptureOut, appReady, 1001),
                                         frameRecord(McuCaptureIn, normal(13078, 5, 1), 1002),
                                         frameRecord(McuCaptureIn, normal(13078, 5, 0), 1250),
                                         frameRecord(McuCaptureOut, clockFrame(1704067200), 1251),
                                         linkRecord(McuCaptureLinkDown, McuCaptureIn, 1400)}
        << QStringList{"wait-connect 30000 # record 1: the launcher connects",
                       "expect A2M_CMD_APP_READY 5000 (msg 12, p1 17, p2 2) # record 2",
                       "send key 5 1 # record 3",
                       "sleep 248",
                       "send key 5 0 # record 4",
                       "expect MSG_A2M_TIME_CLOCK 5000 # record 5: by name only, it carries the launcher's clock",
                       "sleep 149",
                       "disconnect # record 6: the MCU service ended the connection"};
    QTest::newRow("joined midway, down and up again")
        << std::vector<McuCaptureRecord>{frameRecord(McuCaptureOut, normal(12, 190, 0), 0),
                                         frameRecord(McuCaptureIn, normal(13080, 0, 0), 1),
                                         frameRecord(McuCaptureOut, normal(12, 186, 1), 2),
                                         linkRecord(McuCaptureLinkDown, McuCaptureOut, 3),
                                         frameRecord(McuCaptureOut, normal(12, 5, 3), 4),
                                         linkRecord(McuCaptureLinkUp, McuCaptureOut, 5),
                                         frameRecord(McuCaptureOut, appReady, 6)}
        << QStringList{"wait-connect 30000 # the capture begins inside a connection",
                       "# record 1: not expected, sent before the capture's first MCU frame: A2M_CMD_HEARTBEAT (msg 12, p1 190, p2 0)",
                       "send get-version # record 2",
                       "# record 3: not expected, malformed, which expect cannot wait for: A2M_CMD_ACTIVITY_REPLY (msg 12, p1 186, p2 1) [malformed: unexpected p2]",
                       "disconnect # record 4: the launcher ended the connection",
                       "# record 5: not expected, sent while the link was down: A2M_CMD_CUR_SOURCE source 3 arg 0 (msg 12, p1 5, p2 3)",
                       "wait-connect 30000 # record 6: the launcher connects",
                       "expect A2M_CMD_APP_READY 5000 (msg 12, p1 17, p2 2) # record 7"};
    QTest::newRow("a frame the recorder cut")
        << std::vector<McuCaptureRecord>{frameRecord(McuCaptureIn, word(2) + word(57) + word(300) + QByteArray(256, '\0'), 0, 300)}
        << QStringList{"# record 1: 268 of its 300 bytes were kept; the rest go out as zeros",
                       "wait-connect 30000 # the capture begins inside a connection",
                       rawWords("02000000 39000000 2c010000", 72) + " # record 1"};
}

void tst_McuReplay::scenarioFromCapture()
{
    QFETCH(std::vector<McuCaptureRecord>, records);
    QFETCH(QStringList, lines);

    CaptureSession session;
    std::string why;
    QVERIFY2(session.assign(records, "test.pcap", &why), why.c_str());
    const std::vector<std::string> got = ScenarioWriter::lines(session, "test.pcap");
    QCOMPARE(simplified(got, 2), lines);
    for (size_t i = 0; i < got.size(); ++i) {
        ScenarioCommand c;
        QVERIFY2(ScenarioCommand::parse(got[i], &c, &why), (got[i] + ": " + why).c_str());
    }
}

void tst_McuReplay::refusesBadCapture_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("error");

    const auto path = [this](const char *name) { return m_dir.filePath(name); };
    const McuCaptureRecord up = linkRecord(McuCaptureLinkUp, McuCaptureOut, 0);
    const McuCaptureRecord down = linkRecord(McuCaptureLinkDown, McuCaptureIn, 2);
    const McuCaptureRecord key = frameRecord(McuCaptureIn, normal(13078, 5, 1), 1);
    std::string why;

    // File header 24 bytes, each record 16 and its own: the key ends at byte 140.
    QVERIFY2(writeCapture(path("truncated"), {up, frameRecord(McuCaptureOut, normal(12, 17, 2), 1), key}, &why), why.c_str());
    QVERIFY(QFile::resize(path("truncated"), 130));
    QTest::newRow("truncated") << path("truncated") << "record 3: truncated dump file";
    const QByteArray ipv4 = QByteArray::fromHex("4500001c000100004011f96e7f0000017f000001");
    QVERIFY(writeForeign(path("ethernet"), 1, {QByteArray::fromHex("ffffffffffff0200000000010800") + ipv4}));
    QTest::newRow("another link-layer type") << path("ethernet") << "link-layer type 1 is not the MCU link's (147, USER0)";
    QVERIFY(writeForeign(path("ip in user0"), 147, {ipv4}));
    QTest::newRow("another protocol") << path("ip in user0") << "record 1: not an MCU link pseudo-header (direction 69";
    QVERIFY(writeForeign(path("other launcher frames"), 147, {pseudoHeader(1, 1), pseudoHeader(1, 0) + word(7) + QByteArray(16, 'x')}));
    QTest::newRow("another protocol in our header")
        << path("other launcher frames")
        << "record 2: the launcher sends frames of kind 1 and 16 bytes or of kind 2 or 3 and 264 bytes, not kind 7 and 20 bytes";
    QVERIFY(writeForeign(path("long record"), 147, {pseudoHeader(1, 1), pseudoHeader(0, 0) + QByteArray(269, 'x')}));
    QTest::newRow("record longer than a frame") << path("long record") << "record 2: 269 frame bytes kept, more than a frame (268)";
    QVERIFY2(writeCapture(path("frame while down"), {up, down, key}, &why), why.c_str());
    QTest::newRow("frame while the link is down") << path("frame while down")
                                                  << "record 3: a frame of the MCU service's while the link is down";
    QVERIFY2(writeCapture(path("no frame"), {up, down}, &why), why.c_str());
    QTest::newRow("no frame") << path("no frame") << "no frame of the MCU link in its 2 records";
}

void tst_McuReplay::refusesBadCapture()
{
    QFETCH(QString, file);
    QFETCH(QString, error);

    // Refused before the simulator listens or writes a line of scenario.
    const unixpeer::Names names("refused");
    for (const QStringList &mode : {QStringList{"--name", QString::fromStdString(names.serviceName), "--replay"},
                                    QStringList{"--scenario-from"}}) {
        ChildProgram sim;
        QVERIFY2(sim.start(MCU_SIM_PATH, mode + QStringList{file}, QProcessEnvironment::systemEnvironment()),
                 qPrintable(sim.errorString()));
        QVERIFY(sim.waitForExit(30000));
        const QString output = QString::fromLocal8Bit(sim.readOutput());
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY2(output.startsWith("mcu-sim: " + file + ": ") && output.contains(error) && output.count('\n') == 1,
                 qPrintable(output));
    }
}

void tst_McuReplay::replaysChangedCapture_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("exitCode");
    // A line of the report: %1 is the record the change is about, %2 any
    // record (where a frame comes depends on the launcher's pace).
    QTest::addColumn<QString>("line");

    QTest::newRow("activity reply changed")
        << "activity reply" << 1
        << "!! record %1: different: the capture has A2M_CMD_ACTIVITY_REPLY (msg 12, p1 186, p2 1) [malformed: unexpected p2]; "
           "the launcher sent A2M_CMD_ACTIVITY_REPLY (msg 12, p1 186, p2 0)";
    QTest::newRow("version reply dropped") << "version reply" << 1 << "!! after record %2: extra MSG_A2M_VERSION_INFO customer";
    QTest::newRow("clock reply an hour later") << "clock reply" << 0
                                               << "== record %1: matched by form (it carries the launcher's clock): MSG_A2M_TIME_CLOCK";
    QTest::newRow("begins inside the connection")
        << "connection start" << 0
        << "-- before record 1: not compared, its cause may lie before the capture began: A2M_CMD_APP_READY (msg 12, p1 17, p2 2)";
    QTest::newRow("reconnects where the capture does") << "reconnection" << 0 << "== record %1: matched A2M_CMD_APP_READY";
}

void tst_McuReplay::replaysChangedCapture()
{
    QFETCH(QString, change);
    QFETCH(int, exitCode);
    QFETCH(QString, line);

    std::vector<McuCaptureRecord> records;
    std::string why;
    QVERIFY2(McuCaptureReader::readAll(REPLAY_DEMO_CAPTURE, &records, &why), why.c_str());
    const auto find = [&records](const char *name) {
        for (size_t i = 0; i < records.size(); ++i) {
            const McuCaptureRecord &r = records[i];
            if (r.event == McuCaptureFrame && r.direction == McuCaptureOut && FrameDecoder::decode(r.bytes, r.keptLength).name == name)
                return i;
        }
        return records.size();
    };
    size_t at = 0;
    if (change == "activity reply") {
        at = find("A2M_CMD_ACTIVITY_REPLY");
        QVERIFY(at < records.size());
        records[at].bytes[12] = 1;
    } else if (change == "version reply") {
        at = find("MSG_A2M_VERSION_INFO");
        QVERIFY(at < records.size());
        records.erase(records.begin() + long(at));
    } else if (change == "clock reply") {
        at = find("MSG_A2M_TIME_CLOCK");
        QVERIFY(at < records.size());
        qToBigEndian(qFromBigEndian<quint32>(records[at].bytes + 9) + 3600, records[at].bytes + 9);
    } else if (change == "connection start") {
        const size_t greeting = find("A2M_CMD_APP_READY");
        QVERIFY(greeting < records.size());
        records.erase(records.begin(), records.begin() + long(greeting + 1));
    } else if (change == "reconnection") {
        // The link drops at the capture's end; the launcher comes back and greets again.
        const uint64_t endMs = records.back().monotonicNs / 1000000;
        if (records.back().event != McuCaptureLinkDown)
            records.push_back(linkRecord(McuCaptureLinkDown, McuCaptureIn, endMs + 1));
        records.push_back(linkRecord(McuCaptureLinkUp, McuCaptureOut, endMs + 100));
        records.push_back(frameRecord(McuCaptureOut, normal(12, 17, 2), endMs + 101));
        records.push_back(frameRecord(McuCaptureIn, normal(13078, 5, 1), endMs + 102));
        at = records.size() - 2;
    }
    const QString capture = m_dir.filePath(QTest::currentDataTag()) + ".pcap";
    QVERIFY2(writeCapture(capture, records, &why), why.c_str());

    // A launcher of its own on names of its own, its warnings marked.
    const unixpeer::Names names("replay");
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    ChildProgram sim, launcher;
    QVERIFY2(sim.start(MCU_SIM_PATH, {"--name", QString::fromStdString(names.serviceName), "--replay", capture,
                                      "--as-fast-as-possible"}, env),
             qPrintable(sim.errorString()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HEADUNIT_SETTINGS", home.filePath("settings.ini"));
    env.insert("XDG_STATE_HOME", home.filePath("state"));
    env.insert("HEADUNIT_TEST_MCU_NAME", QString::fromStdString(names.name));
    env.insert("QT_MESSAGE_PATTERN", "%{if-warning}[warning] %{endif}%{if-critical}[critical] %{endif}"
                                     "%{if-category}%{category}: %{endif}%{message}");
    QVERIFY2(launcher.start(LAUNCHER_E2E_PATH, {}, env), qPrintable(launcher.errorString()));
    QVERIFY(sim.waitForExit(90000));
    const QString output = QString::fromLocal8Bit(sim.readOutput());
    QVERIFY(launcher.terminate());
    QVERIFY(launcher.waitForExit(30000));
    const QStringList warnings = launcherWarnings(QString::fromLocal8Bit(launcher.readOutput()));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));

    const QString wanted = QRegularExpression::escape(line)
                               .replace(QRegularExpression::escape("%1"), QString::number(at + 1))
                               .replace(QRegularExpression::escape("%2"), "[0-9]+");
    const bool found = QRegularExpression("^" + wanted, QRegularExpression::MultilineOption).match(output).hasMatch();
    // A failure message is cut short; the whole report goes to the log.
    if (!found || sim.exitCode() != exitCode)
        qInfo().noquote() << output;
    QCOMPARE(sim.exitCode(), exitCode);
    QVERIFY2(found, qPrintable("no line \"" + line + "\""));
}

QTEST_GUILESS_MAIN(tst_McuReplay)
#include "tst_mcureplay.moc"

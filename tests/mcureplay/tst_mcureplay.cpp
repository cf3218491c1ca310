#include <QtTest>

#include <capturesession.h>
#include <mcucapture.h>
#include <replaycomparison.h>
#include <scenariowriter.h>

#include <childprogram.h>
#include <launcherprocess.h>

#include <algorithm>

using McuTestFrames::normal;
using McuTestFrames::outboundLong;

namespace {

QByteArray versionFrame(const QByteArray &customer)
{
    const QByteArray sdk = "SDK-2", date = "20240101.1200";
    return outboundLong(2, 205, char(customer.size() + sdk.size() + 16) + (char(customer.size()) + customer)
                                    + (char(sdk.size()) + sdk) + char(13) + date);
}

McuCaptureRecord atNs(McuCaptureRecord r, uint64_t ns)
{
    r.monotonicNs = ns;
    return r;
}

McuCaptureRecord frameRecord(McuCaptureDirection direction, const QByteArray &bytes, uint64_t ms)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.constData());
    return atNs(McuCaptureRecord::frame(direction, b, size_t(bytes.size())), ms * 1000000);
}

McuCaptureRecord linkRecord(McuCaptureEvent event, McuCaptureDirection by, uint64_t ms)
{
    return atNs(McuCaptureRecord::linkEvent(event, by), ms * 1000000);
}

// One frame on either side of a comparison.
struct Side {
    bool expected;
    size_t record;   // expected: its record; received: the last record played before it
    QByteArray frame;
};

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
    void scenarioFromCapture_data();
    void scenarioFromCapture();
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
    QTest::addColumn<bool>("allArrived");

    const QByteArray appReady = normal(12, 17, 2), reply = normal(12, 186, 0);
    QTest::newRow("another order matches")
        << QList<Side>{{true, 2, appReady}, {true, 3, reply}, {false, 3, reply}, {false, 3, appReady}}
        << QStringList{"matched 2", "matched 3"} << true;
    // The clock's form is left to the replay below, which moves it in time.
    QTest::newRow("version by form") << QList<Side>{{true, 3, versionFrame("HU-1")}, {false, 2, versionFrame("HU-1.0.22")}}
                                     << QStringList{"matched by form 3"} << true;
    QTest::newRow("missing and extra") << QList<Side>{{true, 2, normal(12, 5, 5)}, {false, 4, normal(12, 190, 0)}}
                                       << QStringList{"missing 2", "extra after 4"} << false;
}

void tst_McuReplay::compare()
{
    QFETCH(QList<Side>, sides);
    QFETCH(QStringList, verdicts);
    QFETCH(bool, allArrived);

    ReplayComparison comparison;
    for (const Side &s : sides) {
        const std::vector<unsigned char> bytes(s.frame.begin(), s.frame.end());
        if (s.expected)
            comparison.expect(0, s.record, bytes, false);
        else
            comparison.receive(0, s.record, FrameDecoder::decode(bytes.data(), bytes.size()), false);
    }
    static const char *const names[] = {"matched", "missing", "extra", "different", "not compared"};
    QStringList got;
    for (const ReplayComparison::Entry &e : comparison.entries())
        got << names[e.verdict] + QString(e.verdict == ReplayComparison::Matched && !e.sameBytes ? " by form" : "")
                   + (e.replayOnly ? " after " : " ") + QString::number(e.record);
    QCOMPARE(got, verdicts);
    QCOMPARE(comparison.allArrived(0), allArrived);
}

void tst_McuReplay::scenarioFromCapture_data()
{
    QTest::addColumn<std::vector<McuCaptureRecord>>("records");
    QTest::addColumn<QStringList>("lines");   // after the two lines of the header

    QTest::newRow("joined midway, down and up again")
        << std::vector<McuCaptureRecord>{frameRecord(McuCaptureOut, normal(12, 190, 0), 0),
                                         frameRecord(McuCaptureIn, normal(13080, 0, 0), 1),
                                         frameRecord(McuCaptureOut, normal(12, 186, 1), 2),
                                         linkRecord(McuCaptureLinkDown, McuCaptureOut, 3),
                                         frameRecord(McuCaptureOut, normal(12, 5, 3), 4),
                                         linkRecord(McuCaptureLinkUp, McuCaptureOut, 5),
                                         frameRecord(McuCaptureOut, normal(12, 17, 2), 6)}
        << QStringList{"wait-connect 30000 # the capture begins inside a connection",
                       "# record 1: not expected, sent before the capture's first MCU frame: A2M_CMD_HEARTBEAT (msg 12, p1 190, p2 0)",
                       "send get-version # record 2",
                       "# record 3: not expected, malformed, which expect cannot wait for: A2M_CMD_ACTIVITY_REPLY (msg 12, p1 186, p2 1) [malformed: unexpected p2]",
                       "disconnect # record 4: the launcher ended the connection",
                       "# record 5: not expected, sent while the link was down: A2M_CMD_CUR_SOURCE source 3 arg 0 (msg 12, p1 5, p2 3)",
                       "wait-connect 30000 # record 6: the launcher connects",
                       "expect A2M_CMD_APP_READY 5000 (msg 12, p1 17, p2 2) # record 7"};
    const McuCaptureRecord request = frameRecord(McuCaptureIn, normal(13080, 0, 0), 0);
    QTest::newRow("a pause near the clock's range")
        << std::vector<McuCaptureRecord>{request, atNs(request, UINT64_MAX - 501000)}
        << QStringList{"# record 2: a pause of 584 years, shown as 1 h",
                       "wait-connect 30000 # the capture begins inside a connection", "send get-version # record 1",
                       "sleep 3600000", "send get-version # record 2"};
    QTest::newRow("a second apart at the clock's end")
        << std::vector<McuCaptureRecord>{atNs(request, UINT64_MAX - 2000000000), atNs(request, UINT64_MAX - 1000000000)}
        << QStringList{"wait-connect 30000 # the capture begins inside a connection", "send get-version # record 1",
                       "sleep 1000", "send get-version # record 2"};
}

void tst_McuReplay::scenarioFromCapture()
{
    QFETCH(std::vector<McuCaptureRecord>, records);
    QFETCH(QStringList, lines);

    const std::string capture = m_dir.filePath("derived.pcap").toStdString();
    McuCaptureWriter writer;
    std::string why;
    QVERIFY2(writer.open(capture, &why), why.c_str());
    for (const McuCaptureRecord &r : records)
        QVERIFY2(writer.write(r, &why), why.c_str());
    writer.close();
    CaptureSession session;
    QVERIFY2(session.load(capture, &why), why.c_str());
    std::vector<std::string> got;
    QVERIFY2(ScenarioWriter::write(session, "test.pcap", [&got](const std::string &line) { got.push_back(line); }, &why),
             why.c_str());
    // Whitespace runs made one space, so that the aligned comments compare
    // plainly; that every line parses is the fuzz target's property.
    QStringList body;
    for (size_t i = 2; i < got.size(); ++i)
        body << QString::fromStdString(got[i]).simplified();
    QCOMPARE(body, lines);
}

// The reader's own test has the hostile files; this is how the tool tells of
// one: refused before a line of scenario is written. --replay loads the
// capture through the same check before it listens.
void tst_McuReplay::refusesBadCapture()
{
    const QString path = m_dir.filePath("truncated");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray::fromHex("d4c3b2a1020004000000")) == 10);
    file.close();
    ChildProgram sim;
    QVERIFY2(sim.start(MCU_SIM_PATH, {"--scenario-from", path}, QProcessEnvironment::systemEnvironment()),
             qPrintable(sim.errorString()));
    QVERIFY(sim.waitForExit(30000));
    const QString output = QString::fromLocal8Bit(sim.readOutput());
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY2(output.startsWith("mcu-sim: " + path + ": ") && output.contains("truncated dump file") && output.count('\n') == 1,
             qPrintable(output));
}

void tst_McuReplay::replaysChangedCapture_data()
{
    QTest::addColumn<QString>("frame");   // the launcher's frame changed; none: the link drops and comes back
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");    // the start of a report line; %1 is the record changed

    QTest::newRow("activity reply changed")
        << "A2M_CMD_ACTIVITY_REPLY" << 1
        << "!! record %1: different: the capture has A2M_CMD_ACTIVITY_REPLY (msg 12, p1 186, p2 1) [malformed: unexpected p2]; "
           "the launcher sent A2M_CMD_ACTIVITY_REPLY (msg 12, p1 186, p2 0)";
    QTest::newRow("clock reply an hour later")
        << "MSG_A2M_TIME_CLOCK" << 0 << "== record %1: matched by form (it carries the launcher's clock): MSG_A2M_TIME_CLOCK";
    QTest::newRow("reconnects where the capture does") << QString() << 0 << "== record %1: matched A2M_CMD_APP_READY";
}

void tst_McuReplay::replaysChangedCapture()
{
    QFETCH(QString, frame);
    QFETCH(int, exitCode);
    QFETCH(QString, line);

    std::vector<McuCaptureRecord> records;
    std::string why;
    QVERIFY2(McuCaptureReader::readAll(REPLAY_DEMO_CAPTURE, &records, &why), why.c_str());
    size_t at = size_t(std::find_if(records.begin(), records.end(), [&frame](const McuCaptureRecord &r) {
                           return r.event == McuCaptureFrame && r.direction == McuCaptureOut
                                  && QString::fromStdString(FrameDecoder::decode(r.bytes, r.keptLength).name) == frame;
                       }) - records.begin());
    QVERIFY(frame.isEmpty() || at < records.size());
    if (frame == "A2M_CMD_ACTIVITY_REPLY") {
        records[at].bytes[12] = 1;
    } else if (frame == "MSG_A2M_TIME_CLOCK") {
        qToBigEndian(qFromBigEndian<quint32>(records[at].bytes + 9) + 3600, records[at].bytes + 9);
    } else {
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
    McuCaptureWriter writer;
    QVERIFY2(writer.open(capture.toStdString(), &why), why.c_str());
    for (const McuCaptureRecord &r : records)
        QVERIFY2(writer.write(r, &why), why.c_str());
    writer.close();

    // A launcher of its own on names of its own.
    const unixpeer::Names names("replay");
    QTemporaryDir home;
    ChildProgram sim, launcher;
    QVERIFY2(sim.start(MCU_SIM_PATH, {"--name", QString::fromStdString(names.serviceName), "--replay", capture,
                                      "--as-fast-as-possible"}, QProcessEnvironment::systemEnvironment()),
             qPrintable(sim.errorString()));
    QVERIFY2(launcher.start(LAUNCHER_E2E_PATH, {}, launcherEnvironment(home.path(), names)), qPrintable(launcher.errorString()));
    QVERIFY(sim.waitForExit(90000));
    const QString output = QString::fromLocal8Bit(sim.readOutput());
    QVERIFY(launcher.terminate());
    QVERIFY(launcher.waitForExit(30000));
    const QStringList warnings = launcherWarnings(QString::fromLocal8Bit(launcher.readOutput()));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));

    const bool found = ('\n' + output).contains('\n' + line.arg(at + 1));
    // A failure message is cut short; the whole report goes to the log.
    if (!found || sim.exitCode() != exitCode)
        qInfo().noquote() << output;
    QCOMPARE(sim.exitCode(), exitCode);
    QVERIFY2(found, qPrintable("no line \"" + line.arg(at + 1) + "\""));
}

QTEST_GUILESS_MAIN(tst_McuReplay)
#include "tst_mcureplay.moc"

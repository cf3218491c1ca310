#include <QtTest>

#include <mcucapture.h>

#include "mcutestframes.h"
#include "testmessages.h"

using McuTestFrames::normal;
using McuTestFrames::outboundLong;
using McuTestFrames::word;

namespace {

McuCaptureRecord frameRecord(McuCaptureDirection direction, const QByteArray &bytes, uint32_t fullLength)
{
    McuCaptureRecord r = McuCaptureRecord::frame(direction, reinterpret_cast<const unsigned char *>(bytes.constData()),
                                                 size_t(bytes.size()));
    r.fullLength = fullLength;
    return r;
}

QByteArray kept(const McuCaptureRecord &r)
{
    return QByteArray(reinterpret_cast<const char *>(r.bytes), int(r.keptLength));
}

// A pseudo-header as the format lays it out.
QByteArray pseudoHeader(uint8_t direction, uint8_t event, uint64_t monotonicNs)
{
    QByteArray h(12, '\0');
    h[0] = char(direction);
    h[1] = char(event);
    qToLittleEndian(monotonicNs, h.data() + 4);
    return h;
}

// Capture files laid out by hand (little-endian, version 2.4), so that the
// reader meets files our writer never makes. A record's orig length is its
// size unless given.
QByteArray pcapHeader(uint32_t linkType)
{
    return word(0xa1b2c3d4) + QByteArray::fromHex("02000400") + word(0) + word(0) + word(65535) + word(linkType);
}

QByteArray pcapRecord(const QByteArray &bytes, uint32_t origLength = 0, uint32_t microseconds = 0)
{
    return word(0) + word(microseconds) + word(uint32_t(bytes.size()))
           + word(origLength ? origLength : uint32_t(bytes.size())) + bytes;
}

} // namespace

Q_DECLARE_METATYPE(McuCaptureRecord)

class tst_McuCapture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestMessages::install(); }
    void roundTrip();
    void writerRefuses_data();
    void writerRefuses();
    void readerRefuses_data();
    void readerRefuses();

private:
    QTemporaryDir m_dir;
};

void tst_McuCapture::roundTrip()
{
    const QString path = m_dir.filePath("session.pcap");
    const QByteArray cutLong = McuTestFrames::inboundLong(2, 57, QByteArray(256, 'x'), 500);
    QList<McuCaptureRecord> written = {
        McuCaptureRecord::linkEvent(McuCaptureLinkUp, McuCaptureOut),
        frameRecord(McuCaptureOut, normal(12, 17, 2), 16),
        frameRecord(McuCaptureIn, cutLong, 500),
        frameRecord(McuCaptureOut, outboundLong(2, 195, QByteArray::fromHex("0465928d20")), 264),
        McuCaptureRecord::linkEvent(McuCaptureLinkDown, McuCaptureIn),
    };
    written[1].monotonicNs = 0x0102030405060708;
    // Past 2038, and the last second a pcap file can hold: libpcap may keep
    // 32-bit time where this build has 64 (Debian 12's armhf one does).
    written[2].wall = {2147483648, 999999000};
    written[3].wall = {2208988800, 1000};
    written[4].wall = {4294967295, 0};

    McuCaptureWriter writer;
    std::string error;
    QVERIFY2(writer.open(path.toStdString(), &error), error.c_str());
    for (const McuCaptureRecord &r : written)
        QVERIFY2(writer.write(r, &error), error.c_str());
    // Flushed record by record: complete on disk before the writer closes.
    std::vector<McuCaptureRecord> read;
    QVERIFY2(McuCaptureReader::readAll(path.toStdString(), &read, &error), error.c_str());
    QCOMPARE(int(read.size()), written.size());
    for (int i = 0; i < written.size(); ++i) {
        const McuCaptureRecord &w = written[i], &r = read[size_t(i)];
        QCOMPARE(r.direction, w.direction);
        QCOMPARE(r.event, w.event);
        QCOMPARE(r.monotonicNs, w.monotonicNs);
        QCOMPARE(r.wall.tv_sec, w.wall.tv_sec);
        QCOMPARE(r.wall.tv_nsec / 1000, w.wall.tv_nsec / 1000);
        QCOMPARE(r.fullLength, w.fullLength);
        QCOMPARE(kept(r), kept(w));
    }
    QCOMPARE(read[2].keptLength, 268u);
    writer.close();

    // The file as the dissector reads it, laid out the same on every ABI:
    // record headers of unsigned 32-bit seconds and microseconds, then the
    // pseudo-header. The link type and lengths are the reader's to check.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QList<QByteArray> headers, records;
    for (int at = 24; at + 16 <= bytes.size();) {
        const int caplen = int(qFromLittleEndian<quint32>(bytes.constData() + at + 8));
        headers << bytes.mid(at, 8);
        records << bytes.mid(at + 16, caplen);
        at += 16 + caplen;
    }
    QCOMPARE(records.size(), written.size());
    QCOMPARE(records[1], pseudoHeader(1, 0, 0x0102030405060708) + normal(12, 17, 2));
    QCOMPARE(records[4].left(4), pseudoHeader(0, 2, 0).left(4));
    QCOMPARE(headers[2], word(2147483648u) + word(999999));
    QCOMPARE(headers[3], word(2208988800u) + word(1));
    QCOMPARE(headers[4], word(4294967295u) + word(0));
}

void tst_McuCapture::writerRefuses_data()
{
    QTest::addColumn<McuCaptureRecord>("record");
    QTest::addColumn<QString>("error");

    // The limits both ends share are the reader's rows; these only a writer can meet.
    const QByteArray frame(268, 'x');
    QTest::newRow("kept more than its length") << frameRecord(McuCaptureIn, frame, 20) << "268 bytes kept of a frame of 20";
    QTest::newRow("frame without bytes") << frameRecord(McuCaptureOut, QByteArray(), 0) << "0 bytes kept of a frame of 0";
    McuCaptureRecord badDirection = McuCaptureRecord::linkEvent(McuCaptureLinkUp, McuCaptureOut);
    badDirection.direction = McuCaptureDirection(2);
    QTest::newRow("direction 2") << badDirection << "direction 2 or event 1 is unknown";
}

void tst_McuCapture::writerRefuses()
{
    QFETCH(McuCaptureRecord, record);
    QFETCH(QString, error);

    const std::string path = m_dir.filePath(QTest::currentDataTag()).toStdString();
    McuCaptureWriter writer;
    std::string why;
    QVERIFY(!writer.write(record, &why));
    QCOMPARE(QString::fromStdString(why), QString("no capture file is open"));
    QVERIFY2(writer.open(path, &why), why.c_str());
    QVERIFY(!writer.write(record, &why));
    QCOMPARE(QString::fromStdString(why), QString::fromStdString(path) + ": record not written: " + error);

    // Nothing of it reached the file, and the writer goes on.
    const McuCaptureRecord good = McuCaptureRecord::linkEvent(McuCaptureLinkUp, McuCaptureOut);
    QVERIFY2(writer.write(good, &why), why.c_str());
    std::vector<McuCaptureRecord> read;
    QVERIFY2(McuCaptureReader::readAll(path, &read, &why), why.c_str());
    QCOMPARE(int(read.size()), 1);
}

void tst_McuCapture::readerRefuses_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");

    const QByteArray user0 = pcapHeader(147), up = pcapRecord(pseudoHeader(1, 1, 1));
    const QByteArray ipv4 = QByteArray::fromHex("4500001c000100004011f96e7f0000017f000001");
    QTest::newRow("not a capture") << QByteArray("wait-connect 5000\n") << "unknown file format";
    QTest::newRow("truncated") << (user0 + up + pcapRecord(pseudoHeader(0, 0, 1) + normal(13078, 5, 1))).chopped(10)
                               << "record 2: truncated dump file";
    QTest::newRow("another link-layer type") << pcapHeader(1) + pcapRecord(QByteArray::fromHex("ffffffffffff0200000000010800") + ipv4)
                                             << "link-layer type 1 is not the MCU link's (147, USER0)";
    QTest::newRow("another protocol") << user0 + pcapRecord(ipv4) << "record 1: not an MCU link pseudo-header (direction 69";
    QTest::newRow("record shorter than the pseudo-header") << user0 + up + pcapRecord(QByteArray(5, '\0'))
                                                           << "record 2: shorter than the pseudo-header (5 bytes)";
    QTest::newRow("direction 2") << user0 + pcapRecord(pseudoHeader(2, 0, 1) + normal(1, 2, 3))
                                 << "record 1: not an MCU link pseudo-header (direction 2, event 0, reserved 0 0)";
    QTest::newRow("record longer than a frame") << user0 + up + pcapRecord(pseudoHeader(0, 0, 1) + QByteArray(269, 'x'))
                                                << "record 2: 269 frame bytes kept, more than a frame (268)";
    QTest::newRow("frame longer than any") << user0 + pcapRecord(pseudoHeader(0, 0, 1) + QByteArray(268, 'x'), 12 + 20000)
                                           << "record 1: a frame of 20000 bytes, longer than any frame of the link";
    QTest::newRow("link down with bytes") << user0 + pcapRecord(pseudoHeader(0, 2, 1) + normal(1, 2, 3))
                                          << "record 1: a link event carries 16 frame bytes";
    QTest::newRow("microseconds past the second") << user0 + pcapRecord(pseudoHeader(0, 1, 1), 0, 1000000)
                                                  << "record 1: a time stamp of 1000000 microseconds past the second";
    QTest::newRow("more captured than sent") << user0 + pcapRecord(pseudoHeader(0, 0, 1) + normal(1, 2, 3), 20)
                                             << "record 1: 28 bytes captured of a record of 20";
}

void tst_McuCapture::readerRefuses()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);

    const QString path = m_dir.filePath(QTest::currentDataTag());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
    f.close();
    std::vector<McuCaptureRecord> read(1);
    std::string why;
    QVERIFY(!McuCaptureReader::readAll(path.toStdString(), &read, &why));
    QVERIFY(read.empty());
    QVERIFY2(QString::fromStdString(why).startsWith(path + ": "), why.c_str());
    QVERIFY2(QString::fromStdString(why).contains(error), why.c_str());
}

QTEST_GUILESS_MAIN(tst_McuCapture)
#include "tst_mcucapture.moc"

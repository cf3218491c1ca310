#include <QtTest>

#include <framereassembler.h>

#include "mcutestframes.h"
#include "recordingsink.h"
#include "stdoutcapture.h"
#include "testmessages.h"

#include <QRandomGenerator>

#include <algorithm>

using McuTestFrames::normal;
using McuTestFrames::word;

namespace {

// A long frame as it crosses the wire: header with len, then len - 12 bytes.
QByteArray longFrame(uint32_t kind, uint32_t msg, int len, char fill = 'x')
{
    return word(kind) + word(msg) + word(uint32_t(len)) + QByteArray(qMax(0, len - 12), fill);
}

// The 268-byte record the dispatcher gets for the first n bytes of frame.
QByteArray record(const QByteArray &frame, int n)
{
    QByteArray r = frame.left(n);
    return r + QByteArray(268 - r.size(), '\0');
}

const QByteArray overSizeLine = "=================>>>MainAppProtocolComm over size: 10240\n";

// Frames of every well-formed kind: normal, and long of len 12 to 268.
// ends[i] is the stream offset just past frame i.
QByteArray wellFormedStream(QList<QByteArray> *records, QList<int> *ends)
{
    QRandomGenerator rng(7);
    QByteArray stream;
    for (int i = 0; i < 60; ++i) {
        if (rng.bounded(3) == 0) {
            const QByteArray f = normal(0x3300 + uint32_t(i), uint32_t(i), rng.generate());
            stream += f;
            records->append(f);
        } else {
            const int len = i == 1 ? 12 : i == 2 ? 268 : 12 + rng.bounded(257);
            const QByteArray f = longFrame(2 + uint32_t(i % 2), uint32_t(i), len, char('a' + i % 26));
            stream += f;
            records->append(record(f, len));
        }
        ends->append(stream.size());
    }
    return stream;
}

// Frames that lie wholly within the first n bytes: exactly those must have
// been handed on once the read that brought byte n - 1 returns.
int completeBefore(const QList<int> &ends, int n)
{
    return int(std::upper_bound(ends.begin(), ends.end(), n) - ends.begin());
}

} // namespace

class tst_FrameReassembler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestMessages::install(); }
    void readsOfEverySize();
    void reads_data();
    void reads();
};

// Reads of 1 to 300 bytes cut the stream at every offset of every frame,
// with and without bytes pending from the read before.
void tst_FrameReassembler::readsOfEverySize()
{
    QList<QByteArray> expected;
    QList<int> ends;
    const QByteArray stream = wellFormedStream(&expected, &ends);
    const auto *bytes = reinterpret_cast<const unsigned char *>(stream.constData());
    for (int size = 1; size <= 300; ++size) {
        FrameReassembler r;
        RecordingSink sink;
        for (int at = 0; at < stream.size(); at += size) {
            r.feed(bytes + at, size_t(qMin(size, stream.size() - at)), sink);
            QCOMPARE(sink.frames().size(), completeBefore(ends, qMin(at + size, stream.size())));
        }
        QVERIFY2(sink.frames() == expected, qPrintable(QStringLiteral("reads of %1 bytes").arg(size)));
        QCOMPARE(r.buffered(), size_t(0));
    }
}

void tst_FrameReassembler::reads_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<int>("buffered");
    QTest::addColumn<bool>("overSize");

    const QByteArray a = normal(0x3316, 5, 1);
    const QByteArray b = normal(0x3317, 6, 0);
    const QByteArray l20 = longFrame(2, 0x40, 20);

    QTest::newRow("long frame header without its len word")
        << QList<QByteArray>{l20.left(11)} << QList<QByteArray>{} << 11 << false;

    for (int len : {1, 4, 11}) {
        const QByteArray header = word(2) + word(0x45) + word(uint32_t(len));
        QTest::addRow("len %d hands on %d bytes and consumes them", len, len)
            << QList<QByteArray>{header} << QList<QByteArray>{record(header, len)} << 12 - len << false;
    }

    QTest::newRow("len zero discards everything buffered")
        << QList<QByteArray>{a + longFrame(2, 0x46, 0) + b} << QList<QByteArray>{a} << 0 << true;
    QTest::newRow("negative len discards everything buffered")
        << QList<QByteArray>{a, word(2) + word(0x47) + word(0xfffffff0u) + b} << QList<QByteArray>{a} << 0 << true;
    QTest::newRow("stream starts afresh after a discard")
        << QList<QByteArray>{longFrame(2, 0x49, 0), b} << QList<QByteArray>{b} << 0 << true;

    // Longer than the record: only the first 268 bytes are handed on, with len
    // 268, and the rest of the frame is read as frames of its own.
    for (int len : {269, 10240}) {
        QByteArray frame = word(2) + word(0x50) + word(uint32_t(len)) + QByteArray(256, 'h');
        while (frame.size() < len)
            frame += a;
        frame.truncate(len);
        QList<QByteArray> frames{frame.left(268).replace(8, 4, word(268))};
        for (int i = 0; i < (len - 268) / 16; ++i)
            frames << a;
        QTest::addRow("len %d, longer than the record", len)
            << QList<QByteArray>{frame.chopped(1), frame.right(1)} << frames << (len - 268) % 16 << false;
    }

    // A frame longer than the buffer never completes: the read that no longer
    // fits drops all of it, silently, and the stream is read afresh from there.
    QByteArray huge = word(2) + word(0x51) + word(20000);
    huge += QByteArray(38 * 268 - huge.size(), 'z');
    QList<QByteArray> sixteen;
    for (uint32_t i = 0; i < 16; ++i)
        sixteen << normal(0x3316, i, 0);
    QTest::newRow("len past the buffer dropped when it overflows")
        << QList<QByteArray>{huge, sixteen.join() + word(1) + word(0x3316) + word(99)}
        << sixteen << 12 << false;
}

void tst_FrameReassembler::reads()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, buffered);
    QFETCH(bool, overSize);

    FrameReassembler r;
    RecordingSink sink;
    StdoutCapture out;
    for (const QByteArray &read : reads)
        r.feed(reinterpret_cast<const unsigned char *>(read.constData()), size_t(read.size()), sink);
    QCOMPARE(out.take(), overSize ? overSizeLine : QByteArray());
    QCOMPARE(sink.frames(), frames);
    QCOMPARE(r.buffered(), size_t(buffered));
}

QTEST_GUILESS_MAIN(tst_FrameReassembler)
#include "tst_framereassembler.moc"

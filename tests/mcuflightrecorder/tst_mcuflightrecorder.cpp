#include <QtTest>

#include <mcucapture.h>
#include <mcuflightrecorder.h>

#include "mcutestframes.h"
#include "stdoutcapture.h"
#include "testmessages.h"
#include "transportlink.h"

#include <fakewallclock.h>

#include <QDir>
#include <QTemporaryDir>

#include <capturesession.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <random>
#include <sys/socket.h>
#include <vector>

using McuTestFrames::inboundLong;
using McuTestFrames::outboundLong;
using McuTestFrames::normal;

namespace {

// One record of a dump as "dir event bytes-in-hex".
QString describe(const McuCaptureRecord &r)
{
    const char *dir = r.direction == McuCaptureIn ? "in" : "out";
    if (r.event == McuCaptureLinkUp)
        return QStringLiteral("%1 up").arg(dir);
    if (r.event == McuCaptureLinkDown)
        return QStringLiteral("%1 down").arg(dir);
    return QStringLiteral("%1 %2/%3 %4").arg(dir).arg(r.keptLength).arg(r.fullLength)
        .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(r.bytes), int(r.keptLength)).toHex()));
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// The monotonic clock as a board's coarser counter shows it, for the whole
// process while one lives (see clock_gettime below).
std::atomic<long> g_tickNs{0};
struct CoarseClock {
    explicit CoarseClock(long tickNs) { g_tickNs.store(tickNs); }
    ~CoarseClock() { g_tickNs.store(0); }
};

// Keeps the reader in every frame for delayMs, or (0) until released.
class ThrottledSink : public McuFrameSink
{
public:
    explicit ThrottledSink(int delayMs) : m_delayMs(delayMs) {}
    void onMcuFrame(unsigned char *) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_frames;
        m_changed.notify_all();
        const auto released = [this] { return m_released; };
        if (m_delayMs > 0)
            m_changed.wait_for(lock, std::chrono::milliseconds(m_delayMs), released);
        else
            m_changed.wait(lock, released);
    }
    bool waitForFrames(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_frames >= count; });
    }
    void release()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    const int m_delayMs;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_frames = 0;
    bool m_released = false;
};

// Failures of the link's own sends (those it makes without waiting) and
// connects, drawn from a seeded sequence while a Faults lives: a send that
// fails at once, one that gets half of a frame out first, a connect refused.
std::atomic<bool> g_faults{false};
std::mutex g_drawMutex;
std::minstd_rand g_draw;
struct Faults {
    explicit Faults(unsigned seed)
    {
        g_draw.seed(seed);
        g_faults.store(true);
    }
    ~Faults() { g_faults.store(false); }
};
unsigned draw()
{
    const std::lock_guard<std::mutex> lock(g_drawMutex);
    return unsigned(g_draw() % 12);
}

template <typename F>
F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" ssize_t send(int fd, const void *buf, size_t n, int flags)
{
    using Send = ssize_t (*)(int, const void *, size_t, int);
    static const Send realSend = real<Send>("send");
    if (g_faults.load() && (flags & MSG_DONTWAIT)) {
        const unsigned d = draw();
        if (d == 0 || (d == 1 && n < 2)) {
            errno = EPIPE;
            return -1;
        }
        if (d == 1)
            return realSend(fd, buf, n / 2, flags);
    }
    return realSend(fd, buf, n, flags);
}

extern "C" int connect(int fd, const struct sockaddr *addr, socklen_t len)
{
    using Connect = int (*)(int, const struct sockaddr *, socklen_t);
    static const Connect realConnect = real<Connect>("connect");
    if (g_faults.load() && addr->sa_family == AF_UNIX && draw() < 3) {
        errno = ECONNREFUSED;
        return -1;
    }
    return realConnect(fd, addr, len);
}

// Every clock read of the process passes here; while a CoarseClock lives the
// monotonic time is cut down to its tick.
extern "C" int clock_gettime(clockid_t id, struct timespec *ts)
{
    using ClockGettime = int (*)(clockid_t, struct timespec *);
    // Built with 64-bit time on a 32-bit ABI, this is the C library's
    // 64-bit entry point, and so is the one it passes on to.
    static const char *const name = sizeof(time_t) > sizeof(long) ? "__clock_gettime64" : "clock_gettime";
    static const ClockGettime real = reinterpret_cast<ClockGettime>(dlsym(RTLD_NEXT, name));
    const int r = real(id, ts);
    const long tick = g_tickNs.load(std::memory_order_relaxed);
    if (r == 0 && tick > 0 && id == CLOCK_MONOTONIC)
        ts->tv_nsec -= ts->tv_nsec % tick;
    return r;
}

// The link's flight recorder as an engineer meets it: dumps of what crossed
// the link, written when something went wrong, never more than eight.
class tst_McuFlightRecorder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestMessages::install(); }
    void sessionLeavesItsDumps();
    void keepsTheNewestEight_data();
    void keepsTheNewestEight();
    void unwritableDirectoryCostsOneLine();
    void snapshotInCausalOrder_data();
    void snapshotInCausalOrder();
    void dumpWhileTheSinkIsSlow_data();
    void dumpWhileTheSinkIsSlow();
    void everyDumpReplays_data();
    void everyDumpReplays();
};

// Valid and malformed frames, a reply, and the service going away: a dump
// for the malformed frame and one for the drop, holding exactly what crossed.
void tst_McuFlightRecorder::sessionLeavesItsDumps()
{
    QTemporaryDir dumps;
    TransportLink link("recorder", dumps.path().toLocal8Bit());
    StdoutCapture out;
    QVERIFY(link.start());

    const QByteArray key = normal(13078, 5, 1);
    const QByteArray version = inboundLong(2, 25, QByteArray("\0V1.2\0", 6));
    // Longer than the record: its head is handed on and the bytes after the
    // first 268 are read as the next frame, here a key press.
    const QByteArray tail = normal(13078, 6, 1);
    const QByteArray oversize = inboundLong(2, 47, QByteArray(256, 'x') + tail);
    QVERIFY(link.write(key));
    QVERIFY(link.write(version));
    QVERIFY(link.write(oversize));
    QTRY_COMPARE(link.observer.dumps().size(), 1);
    const QByteArray reply = normal(12, 186, 0);
    QCOMPARE(link.send(reply), 0);
    // Kept in two pieces, and in one shorter than a normal message.
    const QByteArray command = outboundLong(2, 13057, QByteArray("abcdefghijklmnopqrstuvwxyz"));
    QCOMPARE(link.send(command), 0);
    const QByteArray stub("stub!");
    QCOMPARE(link.send(stub), 0);
    // Longer than any inbound frame can be: kept capped, as those are.
    const QByteArray bulk(20000, 'b');
    QCOMPARE(link.send(bulk), 0);
    const QByteArray negativeLen = inboundLong(2, 12, QByteArray(4, 'z'), 0xFFFFFFFFu);
    QVERIFY(link.write(negativeLen));
    QTRY_COMPARE(link.observer.dumps().size(), 2);
    link.drop();
    QTRY_COMPARE(link.observer.dumps().size(), 3);
    link.t.stop();

    const QStringList files = QDir(dumps.path()).entryList({QStringLiteral("mcu-*.pcap")}, QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 3);
    const QStringList reasons = {QStringLiteral("malformed"), QStringLiteral("malformed"), QStringLiteral("link-down")};
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(files.at(i).startsWith(QStringLiteral("mcu-00000%1-").arg(i + 1)), qPrintable(files.at(i)));
        QVERIFY2(files.at(i).endsWith(QStringLiteral("-%1.pcap").arg(reasons.at(i))), qPrintable(files.at(i)));
        QCOMPARE(link.observer.dumps().at(i), QStringLiteral("written ") + files.at(i));
    }

    std::vector<McuCaptureRecord> records;
    std::string error;
    QVERIFY2(McuCaptureReader::readAll(dumps.filePath(files.at(2)).toStdString(), &records, &error), error.c_str());
    QStringList got;
    for (const McuCaptureRecord &r : records)
        got << describe(r);
    // The over-size frame keeps its head with its own len; the negative len
    // is no frame at all, only the reason for the dump.
    const QStringList expected = {
        QStringLiteral("out up"),
        QStringLiteral("in 16/16 ") + hex(key),
        QStringLiteral("in 18/18 ") + hex(version),
        QStringLiteral("in 268/284 ") + hex(oversize.left(268)),
        QStringLiteral("in 16/16 ") + hex(tail),
        QStringLiteral("out 16/16 ") + hex(reply),
        QStringLiteral("out 264/264 ") + hex(command),
        QStringLiteral("out 5/5 ") + hex(stub),
        QStringLiteral("out 268/20000 ") + hex(bulk.left(268)),
        QStringLiteral("in down"),
    };
    QCOMPARE(got, expected);
    for (size_t i = 1; i < records.size(); ++i)
        QVERIFY(records[i].monotonicNs >= records[i - 1].monotonicNs);
}

void tst_McuFlightRecorder::keepsTheNewestEight_data()
{
    // What the directory holds before, its dumps and the files that are not,
    // and the numbers of the first and the last of the eight dumps left after
    // eleven more, written with the wall clock standing at `now` (0: the real
    // clock).
    QTest::addColumn<QStringList>("dumps");
    QTest::addColumn<QStringList>("foreign");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<qint64>("now");
    const QString stamp = QStringLiteral("-20260101-000000-link-down.pcap");
    QTest::newRow("empty") << QStringList() << QStringList() << "000004" << "000011" << qint64(0);
    // Named by their date on every ABI: the last second of 32-bit time, the
    // first past it, 2040.
    for (qint64 now : {qint64(2147483647), qint64(2147483648), qint64(2208988800)})
        QTest::newRow(qPrintable(QStringLiteral("named at %1").arg(now)))
            << QStringList{"mcu-000003" + stamp} << QStringList() << "000007" << "000014" << now;
    QTest::newRow("dumps of an earlier run") << QStringList{"mcu-000003" + stamp, "mcu-000012" + stamp} << QStringList()
                                             << "000016" << "000023" << qint64(0);
    QTest::newRow("number past 32 bits") << QStringList{"mcu-4294967295" + stamp} << QStringList() << "4294967299"
                                         << "4294967306" << qint64(0);
    // No number is left after it: the dumps are numbered afresh.
    QTest::newRow("largest number") << QStringList{"mcu-18446744073709551615" + stamp} << QStringList() << "000005"
                                    << "000012" << qint64(0);
    QTest::newRow("foreign and garbage names")
        << QStringList{"mcu-000002-unknown-time-request.pcap"}
        << QStringList{"notes.txt", "mcu-.pcap", "mcu-12x" + stamp, "mcu-000009-today-link-down.pcap",
                       "mcu-000009" + stamp + ".orig", "mcu-18446744073709551616" + stamp, "mcu-000000" + stamp}
        << "000006" << "000013" << qint64(0);
}

void tst_McuFlightRecorder::keepsTheNewestEight()
{
    QFETCH(QStringList, dumps);
    QFETCH(QStringList, foreign);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(qint64, now);

    QTemporaryDir dir;
    // With a dump the power cut short: never counted, and cleared away.
    const QString torn = QStringLiteral("mcu-000099-20260101-000000-malformed.pcap.tmp");
    for (const QString &name : dumps + foreign + QStringList{torn}) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    TransportLink link("eight", dir.path().toLocal8Bit());
    QVERIFY(link.start());
    if (now)
        fakeWallClockFreeze(now, 0);
    for (int i = 0; i < 11; ++i) {
        QCOMPARE(link.send(normal(12, uint32_t(i), 0)), 0);
        link.t.requestDump();
        QTRY_COMPARE(link.observer.dumps().size(), i + 1);
    }
    // Nothing new since the last dump: no twelfth file.
    link.t.requestDump();
    link.t.stop();
    fakeWallClockRelease();

    QStringList files = QDir(dir.path()).entryList(QDir::Files);
    for (const QString &name : foreign)
        QVERIFY2(files.removeOne(name), qPrintable(name));
    QCOMPARE(files.size(), 8);
    std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
        return a.section('-', 1, 1).toULongLong() < b.section('-', 1, 1).toULongLong();
    });
    QVERIFY2(files.first().startsWith("mcu-" + first + "-"), qPrintable(files.join(' ')));
    QVERIFY2(files.last().startsWith("mcu-" + last + "-"), qPrintable(files.join(' ')));
    if (now) {
        const time_t at = time_t(now);
        struct tm local;
        char date[32];
        QVERIFY(localtime_r(&at, &local) && std::strftime(date, sizeof date, "-%Y%m%d-%H%M%S-", &local));
        QVERIFY2(files.last().contains(QLatin1String(date)), qPrintable(files.last()));
    }
    QCOMPARE(link.observer.dumps().size(), 11);
}

// The link goes on as if nothing happened; the observer hears of it once.
void tst_McuFlightRecorder::unwritableDirectoryCostsOneLine()
{
    QTemporaryDir scratch;
    QFile blocker(scratch.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TransportLink link("unwritable", scratch.filePath(QStringLiteral("file/dumps")).toLocal8Bit());
    QVERIFY(link.start());
    const QByteArray frame = normal(12, 1, 0);
    QCOMPARE(link.send(frame), 0);
    link.t.requestDump();
    QTRY_COMPARE(link.observer.dumps(), QStringList{QStringLiteral("failed")});
    QCOMPARE(link.send(frame), 0);
    QCOMPARE(link.read(32), frame + frame);
    link.t.stop();
    QCOMPARE(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("file")});
}

void tst_McuFlightRecorder::snapshotInCausalOrder_data()
{
    // The reader's steps and the senders', repeated: r a read of one inbound
    // frame, s a frame sent (on the reader's thread: a reply to the frame
    // read before it). Each on the real clock, and on clocks that tick every
    // microsecond and every 125 ns (an 8 MHz counter), where a read and its
    // reply fall within one tick.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("repeats");
    QTest::addColumn<long>("tickNs");
    for (const long tick : {0L, 1000L, 125L}) {
        const QByteArray clock = tick ? QByteArray::number(qlonglong(tick)) + " ns tick" : QByteArray("real clock");
        QTest::newRow("reply in a busy stream, " + clock) << "rsr" << 1 << tick;
        QTest::newRow("both rings wrapped, " + clock) << "rrsrs" << 700 << tick;
        QTest::newRow("replies to every read, " + clock) << "rs" << 600 << tick;
    }
}

// Every snapshot holds the newest records made, in the order they were made,
// whichever ring holds them.
void tst_McuFlightRecorder::snapshotInCausalOrder()
{
    QFETCH(QString, steps);
    QFETCH(int, repeats);
    QFETCH(long, tickNs);
    const CoarseClock coarse(tickNs);
    McuFlightRecorder recorder;
    uint32_t made = 0;
    for (int i = 0; i < repeats; ++i) {
        for (const QChar step : steps) {
            const QByteArray frame = normal(12, made++, 0);
            const auto *bytes = reinterpret_cast<const unsigned char *>(frame.constData());
            if (step == 's') {
                recorder.frameOut(bytes, 16, 16, recorder.stampSend());
                continue;
            }
            recorder.stampRead();
            recorder.holdReaderRing();
            recorder.frameIn(bytes, 16, 16);
            recorder.lendReaderRing();
        }
    }

    std::vector<McuCaptureRecord> records(McuFlightRecorder::Capacity);
    uint64_t serial = 0;
    const size_t n = recorder.snapshot(records.data(), &serial);
    QCOMPARE(serial, uint64_t(made));
    QCOMPARE(n, std::min<size_t>(made, McuFlightRecorder::Capacity));
    for (size_t i = 0; i < n; ++i) {
        uint32_t p1;
        std::memcpy(&p1, records[i].bytes + 8, sizeof p1);
        QCOMPARE(p1, uint32_t(made - n + i));
    }
}

void tst_McuFlightRecorder::dumpWhileTheSinkIsSlow_data()
{
    // How long the sink keeps each frame (0: until the dump is written), and
    // the frames the service writes, 2 ms apart.
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("frames");
    // A platform call that hangs, a stdout nobody reads: when the dump is wanted.
    QTest::newRow("sink that hangs") << 0 << 1;
    QTest::newRow("sink slower than the service") << 3 << 40;
}

// The dump is written while the sink holds the reader, and frames that come
// faster than the sink takes them are stamped when they were read, never
// before the service wrote them, so that a replay keeps their pace.
void tst_McuFlightRecorder::dumpWhileTheSinkIsSlow()
{
    QFETCH(int, delayMs);
    QFETCH(int, frames);
    QTemporaryDir dumps;
    ThrottledSink sink(delayMs);
    LinkEvents observer;
    ServiceEnd service("slow");
    McuEndpoint endpoint = service.names.endpoint();
    const QByteArray dir = dumps.path().toLocal8Bit();
    endpoint.dumpDir = dir.constData();
    McuTransport t(sink, endpoint, &observer);
    t.start();
    QVERIFY(service.accept());
    std::vector<uint64_t> written;
    for (int i = 0; i < frames; ++i) {
        // The monotonic clock, as the stamps.
        written.push_back(uint64_t(std::chrono::nanoseconds(std::chrono::steady_clock::now().time_since_epoch()).count()));
        QVERIFY(service.write(normal(13078, uint32_t(i), 1)));
        if (frames > 1)
            QTest::qSleep(2);
    }
    QVERIFY(sink.waitForFrames(frames));
    t.requestDump();
    QTRY_COMPARE_WITH_TIMEOUT(observer.dumps().size(), 1, 10000);
    sink.release();
    t.stop();

    const QStringList files = QDir(dumps.path()).entryList({QStringLiteral("mcu-*.pcap")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    std::vector<McuCaptureRecord> records;
    std::string error;
    QVERIFY2(McuCaptureReader::readAll(dumps.filePath(files.first()).toStdString(), &records, &error), error.c_str());
    size_t in = 0;
    for (const McuCaptureRecord &r : records) {
        if (r.direction != McuCaptureIn || r.event != McuCaptureFrame)
            continue;
        QCOMPARE(describe(r), QStringLiteral("in 16/16 ") + hex(normal(13078, uint32_t(in), 1)));
        QVERIFY2(r.monotonicNs >= written.at(in), qPrintable(QStringLiteral("frame %1 stamped %2 us before it was written")
                                                                 .arg(in).arg((written.at(in) - r.monotonicNs) / 1000)));
        ++in;
    }
    QCOMPARE(in, size_t(frames));
}

void tst_McuFlightRecorder::everyDumpReplays_data()
{
    QTest::addColumn<unsigned>("seed");
    for (unsigned seed = 1; seed <= 4; ++seed)
        QTest::newRow(qPrintable(QStringLiteral("faults %1").arg(seed))) << seed;
}

// Whatever fails on the way, every dump the link writes is one that
// mcu-sim --replay accepts: the link's records make sense as a session.
void tst_McuFlightRecorder::everyDumpReplays()
{
    QFETCH(unsigned, seed);
    QTemporaryDir dumps;
    TransportLink link("replays", dumps.path().toLocal8Bit());
    StdoutCapture out;
    const QByteArray greeting = normal(12, 1, 0);
    link.t.sendGreeting(greeting.constData(), greeting.size());
    QStringList checked;
    auto checkDumps = [&] {
        for (const QString &name : QDir(dumps.path()).entryList({QStringLiteral("mcu-*.pcap")}, QDir::Files)) {
            if (checked.contains(name))
                continue;
            checked << name;
            CaptureSession session;
            std::string error;
            QVERIFY2(session.load(dumps.filePath(name).toStdString(), &error), error.c_str());
        }
    };
    {
        const Faults faults(seed);
        link.t.start();
        for (uint32_t round = 0; round < 12; ++round) {
            QVERIFY(link.accept());
            link.write(normal(13078, round, 1));
            link.send(normal(12, 100 + round, 0));
            link.t.requestDump();
            link.drop();
            // Those written by now; the rest at a later round or at the end,
            // before more than eight come and the oldest go.
            checkDumps();
        }
        link.t.stop();
    }
    checkDumps();
    QVERIFY(!checked.isEmpty());
}

QTEST_GUILESS_MAIN(tst_McuFlightRecorder)
#include "tst_mcuflightrecorder.moc"

#include <QtTest>

#include <firstframemonitor.h>
#include <svccontrol.h>

#include <hostplatform.h>
#include <journal.h>

#include "testmessages.h"

#include <QSemaphore>

#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

namespace {
QSemaphore g_dumpMayReturn;
std::atomic<int> g_dumps{0};
} // namespace

// Stands in for the launcher's exported dump call, which the platform finds
// by its symbol: the first call holds the platform's signal thread until the
// test lets it go.
extern "C" int heldDump() __asm__("_ZN14tqappframework19MainAppProtocolComm18DumpFlightRecorderEv");
extern "C" int heldDump()
{
    if (g_dumps++ == 0)
        g_dumpMayReturn.acquire();
    return 0;
}

// Records the signals in the order they arrive.
class Receiver : public QObject
{
    Q_OBJECT

public:
    QStringList seen;

public Q_SLOTS:
    void onStageReady(SvcControl::ExeStage stage) { seen << QStringLiteral("stageReady(%1)").arg(int(stage)); }
    void onFinished() { seen << QStringLiteral("finished()"); }
};

class tst_HostServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void svcSignalsAreAsynchronous_data();
    void svcSignalsAreAsynchronous();
    void blockingStageSignalsNothing();
    void pendingSignalDroppedWithItsObject();
    void monitorIsCounted();
    void journalUnderConcurrentCallers();
    void signalFloodNeverBlocks();
};

void tst_HostServices::initTestCase()
{
    TestMessages::install();
    qRegisterMetaType<SvcControl::ExeStage>("SvcControl::ExeStage");
}

void tst_HostServices::init()
{
    HostPlatform::reset();
}

void tst_HostServices::svcSignalsAreAsynchronous_data()
{
    QTest::addColumn<int>("thread");
    QTest::newRow("own thread") << int(HostPlatform::SignalThread::Own);
    QTest::newRow("worker thread") << int(HostPlatform::SignalThread::Worker);
}

void tst_HostServices::svcSignalsAreAsynchronous()
{
    QFETCH(int, thread);
    HostPlatform::setSignalThread(HostPlatform::SignalThread(thread));

    SvcControl svc;
    Receiver receiver;
    QVERIFY(connect(&svc, SIGNAL(stageReady(SvcControl::ExeStage)), &receiver, SLOT(onStageReady(SvcControl::ExeStage))));
    QVERIFY(connect(&svc, SIGNAL(finished()), &receiver, SLOT(onFinished())));

    svc.exeStage(SvcControl::ExeStageFirst, false);
    svc.exeStage(SvcControl::ExeStageSecond, false);
    svc.stop(false);
    QVERIFY2(receiver.seen.isEmpty(), "signals must not arrive within the call");

    QTRY_COMPARE(receiver.seen, (QStringList{"stageReady(0)", "stageReady(1)", "finished()"}));

    const QStringList journal = HostJournal::lines();
    QVERIFY(journal.indexOf("SvcControl::exeStage(0, false)") < journal.indexOf("SvcControl emits stageReady(0)"));
    QVERIFY(journal.indexOf("SvcControl::stop(false)") < journal.indexOf("SvcControl emits finished()"));
}

void tst_HostServices::blockingStageSignalsNothing()
{
    SvcControl svc;
    QSignalSpy ready(&svc, SIGNAL(stageReady(SvcControl::ExeStage)));
    svc.exeStage(SvcControl::ExeStageFirst, true);
    QTest::qWait(20);
    QCOMPARE(ready.count(), 0);
    QVERIFY(HostJournal::lines().contains("SvcControl::exeStage(0, true)"));
}

void tst_HostServices::pendingSignalDroppedWithItsObject()
{
    HostPlatform::setSignalThread(HostPlatform::SignalThread::Worker);
    for (int i = 0; i < 200; ++i) {
        auto *svc = new SvcControl;
        svc->stop(false);
        delete svc; // a delivery racing with this must not touch freed memory
    }
    QTest::qWait(50);
    QVERIFY(HostJournal::lines().count("SvcControl emits finished()") <= 200);
}

void tst_HostServices::monitorIsCounted()
{
    FirstFrameMonitor *first = FirstFrameMonitor::getInstance();
    QPointer<FirstFrameMonitor> second = FirstFrameMonitor::getInstance();
    QCOMPARE(second.data(), first);
    FirstFrameMonitor::releaseInstance();
    QVERIFY(second); // still held once
    FirstFrameMonitor::releaseInstance();
    QVERIFY(!second);
    FirstFrameMonitor::releaseInstance(); // one release too many changes nothing
    QCOMPARE(HostJournal::lines().count("FirstFrameMonitor::releaseInstance()"), 3);
}

void tst_HostServices::journalUnderConcurrentCallers()
{
    enum { Threads = 8, Lines = 2000 };
    static_assert(Threads * Lines <= 20000, "within the journal's capacity");
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < Lines; ++i)
                HostJournal::record(QStringLiteral("writer %1 line %2").arg(t).arg(i));
        });
    }
    for (auto &w : writers)
        w.join();

    const QStringList lines = HostJournal::lines();
    QCOMPARE(lines.size(), Threads * Lines);
    // Each writer's lines are whole and in its own order.
    QVector<int> next(Threads, 0);
    for (const QString &line : lines) {
        const QStringList parts = line.split(QLatin1Char(' '));
        QCOMPARE(parts.size(), 4);
        const int t = parts.at(1).toInt();
        QCOMPARE(parts.at(3).toInt(), next[t]++);
    }

    // Bounded: the oldest lines go first.
    for (int i = lines.size(); i <= 20000; ++i)
        HostJournal::record(QStringLiteral("filler"));
    QCOMPARE(HostJournal::lines().size(), 20000);
    QCOMPARE(HostJournal::lines().first(), lines.at(1));
}

// More signals than the pipe holds bytes while the signal thread is busy: a
// handler that waited for room would never return. No toggle is lost.
void tst_HostServices::signalFloodNeverBlocks()
{
    QLoggingCategory::setFilterRules(QStringLiteral("headunit.platform.debug=false"));
    const bool visible = HostPlatform::isVisible();
    std::raise(SIGUSR2);
    QTRY_COMPARE(g_dumps.load(), 1);
    for (int i = 0; i < 70001; ++i)
        std::raise(SIGUSR1);
    g_dumpMayReturn.release();
    std::raise(SIGUSR2);
    QTRY_COMPARE(g_dumps.load(), 2);
    QCOMPARE(HostPlatform::isVisible(), !visible);
}

QTEST_GUILESS_MAIN(tst_HostServices)
#include "tst_hostservices.moc"

#include <QtTest>

#include <firstframemonitor.h>
#include <svccontrol.h>

#include <hostplatform.h>
#include <journal.h>

#include "testmessages.h"

#include <QSemaphore>

#include <atomic>
#include <csignal>

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

class tst_HostServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void pendingSignalDroppedWithItsObject();
    void monitorIsCounted();
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

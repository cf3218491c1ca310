#include <QtTest>

#include <hostplatform.h>

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

class tst_HostSignals : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestMessages::install(); }
    void signalFloodNeverBlocks();
};

// More signals than the pipe holds bytes while the signal thread is busy: a
// handler that waited for room would never return. No toggle is lost.
void tst_HostSignals::signalFloodNeverBlocks()
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

QTEST_GUILESS_MAIN(tst_HostSignals)
#include "tst_hostsignals.moc"

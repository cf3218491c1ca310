#include <QtTest>

#include "systemstartup.h"

#include <firstframemonitor.h>

#include <hostplatform.h>
#include <journal.h>

#include "testmessages.h"

// The platform calls a staged start makes, in order, from the journal.
static QStringList startupCalls()
{
    static const QRegularExpression interesting(QStringLiteral(
        "^(FirstFrameMonitor::(preCheck|releaseInstance)|SvcControl::(exeStage|stop)|"
        "ModuleManager::(setStartupLevel|stageDone)|InfoModule::allServiceReady)"));
    return HostJournal::lines().filter(interesting);
}

class tst_SystemStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestMessages::install(); }
    void init() { HostPlatform::reset(); }
    void stagedStart_data();
    void stagedStart();
    void nothingRunsWithoutFirstFrame();
    void withoutInfoModule();
    void earlyFinishedAndRemoval();
    void directStart();
};

void tst_SystemStartup::stagedStart_data()
{
    QTest::addColumn<int>("firstFrame");
    QTest::addColumn<int>("signalThread");
    QTest::newRow("first frame next turn") << int(HostPlatform::FirstFrame::NextTurn) << int(HostPlatform::SignalThread::Own);
    QTest::newRow("first frame inside preCheck") << int(HostPlatform::FirstFrame::InsidePreCheck) << int(HostPlatform::SignalThread::Own);
    QTest::newRow("signals from platform thread") << int(HostPlatform::FirstFrame::NextTurn) << int(HostPlatform::SignalThread::Worker);
}

void tst_SystemStartup::stagedStart()
{
    QFETCH(int, firstFrame);
    QFETCH(int, signalThread);
    HostPlatform::setFirstFrame(HostPlatform::FirstFrame(firstFrame));
    HostPlatform::setSignalThread(HostPlatform::SignalThread(signalThread));

    QPointer<SystemStartup> startup = new SystemStartup(nullptr);
    startup->bgStart();
    if (firstFrame == int(HostPlatform::FirstFrame::InsidePreCheck))
        QCOMPARE(startupCalls().value(1), QStringLiteral("SvcControl::exeStage(0, false)"));

    // Each stage once, the second only once the first is ready.
    QTRY_VERIFY(startupCalls().contains("InfoModule::allServiceReady()"));
    const QStringList calls = startupCalls();
    QCOMPARE(calls.count("SvcControl::exeStage(0, false)"), 1);
    QCOMPARE(calls.count("SvcControl::exeStage(1, false)"), 1);
    QVERIFY(calls.indexOf("ModuleManager::setStartupLevel(1)") < calls.indexOf("SvcControl::exeStage(1, false)"));
    QVERIFY(startup);
    delete startup;
    QCOMPARE(startupCalls().count("FirstFrameMonitor::releaseInstance()"), 1);
}

// Stage values other than the two are values too, and change nothing.
void tst_SystemStartup::nothingRunsWithoutFirstFrame()
{
    HostPlatform::setFirstFrame(HostPlatform::FirstFrame::Never);
    QPointer<SystemStartup> startup = new SystemStartup(nullptr);
    startup->bgStart();
    auto *svc = startup->findChild<SvcControl *>();
    emit svc->stageReady(SvcControl::ExeStage(2));
    emit svc->stageReady(SvcControl::ExeStage(-1));
    QTest::qWait(50);
    QCOMPARE(startupCalls(), QStringList{"FirstFrameMonitor::preCheck()"});
    QVERIFY(startup);

    // A first frame reported later still starts it.
    HostPlatform::showFirstFrame();
    QTRY_VERIFY(startupCalls().contains("InfoModule::allServiceReady()"));
    delete startup;
}

void tst_SystemStartup::withoutInfoModule()
{
    HostPlatform::setInfoModulePresent(false);
    QPointer<SystemStartup> startup = new SystemStartup(nullptr);
    startup->bgStart();
    QTRY_VERIFY(HostJournal::lines().contains("SvcControl emits finished()"));
    QTest::qWait(10);
    QVERIFY(!startupCalls().contains("InfoModule::allServiceReady()"));
    QCOMPARE(startupCalls().count("SvcControl::stop(false)"), 1);
    delete startup;
}

void tst_SystemStartup::earlyFinishedAndRemoval()
{
    HostPlatform::setFirstFrame(HostPlatform::FirstFrame::Never);
    QPointer<SystemStartup> startup = new SystemStartup(nullptr);
    startup->bgStart();
    auto *svc = startup->findChild<SvcControl *>();
    QVERIFY(svc);
    QTimer *timer = startup->findChild<QTimer *>();
    QVERIFY(timer && !timer->isActive());

    emit svc->finished();
    QVERIFY(timer->isActive() && timer->isSingleShot());
    QCOMPARE(timer->interval(), 5000);
    QCOMPARE(timer->timerType(), Qt::PreciseTimer); // a coarse one may fire 5 % early
    QCOMPARE(startupCalls().count("InfoModule::allServiceReady()"), 1);

    // Disconnected: later executor signals reach nobody.
    emit svc->stageReady(SvcControl::ExeStageFirst);
    emit svc->finished();
    QCOMPARE(startupCalls().count("InfoModule::allServiceReady()"), 1);
    QVERIFY(!startupCalls().contains("ModuleManager::setStartupLevel(1)"));

    // Drive the 5000 ms by hand: the timeout schedules deleteLater(), which
    // takes effect at the next turn of the event loop, not before.
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection));
    QVERIFY(startup);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!startup);
    QCOMPARE(startupCalls().count("FirstFrameMonitor::releaseInstance()"), 1);
}

void tst_SystemStartup::directStart()
{
    QPointer<SystemStartup> startup = new SystemStartup(nullptr);
    startup->directStart();
    QVERIFY(startup); // removed at the next turn of the event loop
    QVERIFY(startupCalls().contains("SvcControl::exeStage(1, true)"));
    QTRY_VERIFY(!startup);
    QVERIFY(!HostJournal::lines().contains("FirstFrameMonitor::preCheck()"));
}

QTEST_MAIN(tst_SystemStartup)
#include "tst_systemstartup.moc"

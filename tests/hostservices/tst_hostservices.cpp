#include <QtTest>

#include <firstframemonitor.h>
#include <svccontrol.h>

#include <hostplatform.h>
#include <journal.h>

#include "testmessages.h"

class tst_HostServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void pendingSignalDroppedWithItsObject();
    void monitorIsCounted();
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

QTEST_GUILESS_MAIN(tst_HostServices)
#include "tst_hostservices.moc"

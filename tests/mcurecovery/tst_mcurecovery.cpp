#include <QtTest>

#include "mcutestframes.h"
#include "stdoutcapture.h"
#include "testmessages.h"
#include "transportlink.h"

#include <sys/stat.h>

using McuTestFrames::normal;

namespace {

const QByteArray Greeting = normal(12, 1, 0);

} // namespace

// How the link behaves when the service is away, comes back, or is not who
// it should be.
class tst_McuRecovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestMessages::install(); }
    void outageCostsOneLine_data();
    void outageCostsOneLine();
    void peerCheckedByUser_data();
    void peerCheckedByUser();
};

void tst_McuRecovery::outageCostsOneLine_data()
{
    QTest::addColumn<bool>("upAtStart");
    QTest::addColumn<bool>("ownPathTaken");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("service closes and stays away") << true << false << QByteArray("Main App invaild datalen:0\n");
    QTest::newRow("service not there at start") << false << false
                                                << QByteArray("-main app socket read failed with error: 22\n");
    // Every retry fails to bind too, and the link goes on unnamed.
    QTest::newRow("own path cannot be removed") << true << true << QByteArray("Main App invaild datalen:0\n");
}

// The first failure of an outage prints the link's own line, the retries
// that follow print nothing, and the service is greeted once when it is back.
// Inbound frames go on over the new connection, which inherits no half frame.
void tst_McuRecovery::outageCostsOneLine()
{
    QFETCH(bool, upAtStart);
    QFETCH(bool, ownPathTaken);
    QFETCH(QByteArray, line);

    TransportLink link("outage");
    const auto removeTaken = qScopeGuard([&] { ::rmdir(link.names.ownPath.c_str()); });
    QVERIFY(!ownPathTaken || ::mkdir(link.names.ownPath.c_str(), 0700) == 0);
    if (!upAtStart)
        link.stopListening();
    McuTransport &t = link.t;
    StdoutCapture out;
    t.start();
    QCOMPARE(t.sendGreeting(Greeting.constData(), Greeting.size()), upAtStart ? 0 : -1);
    if (upAtStart) {
        QVERIFY(link.accept());
        QCOMPARE(link.read(16), Greeting);
        QVERIFY(link.write(normal(0x3316, 5, 1)));
        QTRY_COMPARE(link.sink.frames().size(), 1);
        QVERIFY(link.write(normal(0x3316, 5, 1).left(10)));
        link.stopListening();
        link.drop();
    }
    // Several retries fall into this time (50, 100, 200 ms, ...).
    QTRY_VERIFY_WITH_TIMEOUT(link.observer.events().size() >= (upAtStart ? 2 : 1), 5000);
    QTest::qWait(800);
    link.listen();
    QVERIFY(link.accept());
    QCOMPARE(link.read(16), Greeting);
    QCOMPARE(link.send(normal(1, 2, 3)), 0);
    QCOMPARE(link.read(16), normal(1, 2, 3));
    QVERIFY(link.write(normal(0x3316, 6, 0)));
    QTRY_COMPARE(link.sink.frames().size(), upAtStart ? 2 : 1);
    QCOMPARE(link.sink.frames().last(), normal(0x3316, 6, 0));
    t.stop();

    QCOMPARE(out.take(), line);
    QStringList expected;
    if (ownPathTaken)
        expected << QStringLiteral("unnamed %1").arg(EISDIR);
    if (upAtStart)
        expected << QStringLiteral("up pid %1 uid 0 after none").arg(getpid()) << QStringLiteral("down 0");
    else
        expected << QStringLiteral("down %1").arg(ECONNREFUSED);
    expected << QStringLiteral("up pid %1 uid 0 after retries").arg(getpid());
    QCOMPARE(link.observer.events(), expected);
}

void tst_McuRecovery::peerCheckedByUser_data()
{
    QTest::addColumn<QVector<long>>("allowed");
    QTest::addColumn<bool>("served");
    QTest::newRow("list holds root only") << QVector<long>{0, -1} << false;
    QTest::newRow("empty list") << QVector<long>{-1} << true;
}

// A peer outside the allowed users gets nothing, not even the greeting, is
// named once however often the link retries, and an allowed service that
// comes afterwards is served.
void tst_McuRecovery::peerCheckedByUser()
{
    if (::geteuid() != 0)
        QSKIP("listening as another user needs root");
    QFETCH(QVector<long>, allowed);
    QFETCH(bool, served);

    TransportLink link("peer", QByteArray(), allowed.constData());
    link.listen(65534);
    QVERIFY(link.listener->isListening());
    McuTransport &t = link.t;
    StdoutCapture out;
    t.start();
    QCOMPARE(t.sendGreeting(Greeting.constData(), Greeting.size()), served ? 0 : -1);

    const QString who = QStringLiteral("pid %1 uid 65534").arg(link.listener->listenedBy());
    if (served) {
        QVERIFY(link.accept());
        QCOMPARE(link.read(16), Greeting);
        QCOMPARE(link.observer.events().value(0), QStringLiteral("up %1 after none").arg(who));
        t.stop();
        return;
    }
    for (int i = 0; i < 4; ++i) {
        QVERIFY(link.accept());
        QCOMPARE(link.read(1, 300), QByteArray());
    }
    QCOMPARE(t.sendData(normal(1, 2, 3).constData(), 16), -1);
    QCOMPARE(link.observer.events(), (QStringList{QStringLiteral("refused %1").arg(who), QStringLiteral("down 0")}));

    link.listen();
    QVERIFY(link.accept());
    QCOMPARE(link.read(16), Greeting);
    t.stop();
    QCOMPARE(link.observer.events().value(2), QStringLiteral("up pid %1 uid 0 after retries").arg(getpid()));
}

QTEST_GUILESS_MAIN(tst_McuRecovery)
#include "tst_mcurecovery.moc"

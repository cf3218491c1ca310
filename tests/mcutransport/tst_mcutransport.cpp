#include <QtTest>

#include "mcutestframes.h"
#include "stdoutcapture.h"
#include "testmessages.h"
#include "transportlink.h"

#include <csignal>
#include <thread>
#include <vector>

using McuTestFrames::normal;
using McuTestFrames::outboundLong;

class tst_McuTransport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void refusedWithoutSignal_data();
    void refusedWithoutSignal();
    void stalledServiceBlocksNoCaller();
    void unfinishableFrameEndsConnection();
};

void tst_McuTransport::initTestCase()
{
    TestMessages::install();
    // A SIGPIPE must kill this process as it would kill the launcher.
    std::signal(SIGPIPE, SIG_DFL);
}

// The service stops reading: callers give up within about the deadline and
// never leave part of a frame behind.
void tst_McuTransport::stalledServiceBlocksNoCaller()
{
    TransportLink link("stalled");
    QVERIFY(link.start());
    const int peer = link.fd;
    // The listener takes exactly the name's bytes, so the accepted connection
    // proves the address length (no terminating NUL); it comes from our own path.
    struct sockaddr_un addr;
    socklen_t len = sizeof addr;
    QCOMPARE(::getpeername(peer, reinterpret_cast<struct sockaddr *>(&addr), &len), 0);
    QCOMPARE(QByteArray(addr.sun_path), QByteArray::fromStdString(link.names.ownPath));

    const QByteArray frame = outboundLong(2, 0x101, QByteArray(200, 'B'));
    int accepted = 0;
    while (link.send(frame) == 0 && accepted < 100000)
        ++accepted;
    QVERIFY(accepted > 0 && accepted < 100000);

    StdoutCapture out;
    // A caller stuck on the full socket would never return, and the test
    // would run into its time-out.
    std::vector<int> results(12, 0);
    std::vector<std::thread> senders;
    for (size_t s = 0; s < 4; ++s) {
        senders.emplace_back([&, s] {
            for (size_t i = s * 3; i < s * 3 + 3; ++i)
                results[i] = link.send(frame);
        });
    }
    for (std::thread &s : senders)
        s.join();
    const QByteArray lines = out.take();

    QCOMPARE(results, std::vector<int>(12, -1));
    QCOMPARE(lines, QByteArray("===============>repeat call SendData\n").repeated(lines.count('\n')));

    QByteArray waiting;
    while (link.pending() > 0)
        waiting += link.read(link.pending());
    QCOMPARE(waiting, frame.repeated(accepted));
    QCOMPARE(link.send(frame), 0);
    QCOMPARE(link.read(frame.size()), frame);
}

// A frame larger than the socket can take while the service does not read:
// its head is on the wire, so the connection must go, and a new one comes.
void tst_McuTransport::unfinishableFrameEndsConnection()
{
    StdoutCapture out;
    TransportLink link("unfinishable");
    QVERIFY(link.start());

    const QByteArray huge(4 << 20, 'u');
    QCOMPARE(link.send(huge), -1);
    int got = 0;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(link.fd, buf, sizeof buf)) > 0)
        got += int(n);
    QCOMPARE(n, ssize_t(0));
    QVERIFY(got > 0 && got < huge.size());

    QVERIFY(link.accept());
    const QByteArray frame = normal(7, 8, 9);
    QTRY_COMPARE(link.send(frame), 0);
    QCOMPARE(link.read(frame.size()), frame);
    link.t.stop();
    QCOMPARE(out.take(), QByteArray("Main App invaild datalen:0\n"));
}

void tst_McuTransport::refusedWithoutSignal_data()
{
    QTest::addColumn<int>("state");
    QTest::newRow("before start") << 0;
    QTest::newRow("after stop") << 1;
    QTest::newRow("service stopped reading its end") << 2;
    QTest::newRow("service closed and is gone") << 3;
}

// Every refusal is -1 and, with the service gone, no SIGPIPE.
void tst_McuTransport::refusedWithoutSignal()
{
    QFETCH(int, state);
    TransportLink link("refused");
    StdoutCapture out;
    if (state > 0)
        QVERIFY(link.start());
    char c;
    if (state == 1) {
        QCOMPARE(link.t.stop(), 0);
        QCOMPARE(::read(link.fd, &c, 1), ssize_t(0));
    } else if (state == 2) {
        ::shutdown(link.fd, SHUT_RD);
    } else if (state == 3) {
        link.stopListening();
        link.drop();
    }
    for (int i = 0; i < 20; ++i)
        QCOMPARE(link.send(normal(1, uint32_t(i), 0)), -1);
}

QTEST_GUILESS_MAIN(tst_McuTransport)
#include "tst_mcutransport.moc"

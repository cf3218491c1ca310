#include <QtTest>

#include <mcutransport.h>

#include "mcutestframes.h"
#include "recordingsink.h"
#include "stdoutcapture.h"
#include "testmessages.h"
#include "unixpeer.h"

#include <csignal>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using McuTestFrames::normal;
using McuTestFrames::outboundLong;

namespace {

// A connected descriptor that is closed at the end of the test.
struct Fd {
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int fd;
};

// A started transport and the service end it connected to, torn down in
// reverse: the service's descriptor, the transport, the listener, the names.
struct Connected {
    explicit Connected(const char *tag)
        : names(tag)
        , service(names.serviceName)
        , t(sink, names.endpoint())
    {
        t.start();
        peer.fd = service.accept(5000);
    }
    unixpeer::Names names;
    unixpeer::Listener service;
    RecordingSink sink;
    McuTransport t;
    Fd peer{-1};
};

int send(McuTransport &t, const QByteArray &frame)
{
    return t.sendData(frame.constData(), frame.size());
}

QByteArray readBytes(int fd, int n, int timeoutMs = 5000)
{
    QByteArray bytes(n, '\0');
    return unixpeer::readFull(fd, bytes.data(), size_t(n), timeoutMs) ? bytes : QByteArray();
}

QByteArray drainPending(int fd)
{
    QByteArray bytes;
    int n = 0;
    while (::ioctl(fd, FIONREAD, &n) == 0 && n > 0)
        bytes += readBytes(fd, n);
    return bytes;
}

} // namespace

class tst_McuTransport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void refusedUnlessRunning_data();
    void refusedUnlessRunning();
    void connectsFromOwnPathToServiceName();
    void stalledServiceBlocksNoCaller();
    void unfinishableFrameEndsConnection();
    void sendToGoneServiceRaisesNoSignal_data();
    void sendToGoneServiceRaisesNoSignal();
};

void tst_McuTransport::initTestCase()
{
    TestMessages::install();
    // A SIGPIPE must kill this process as it would kill the launcher.
    std::signal(SIGPIPE, SIG_DFL);
}

void tst_McuTransport::refusedUnlessRunning_data()
{
    QTest::addColumn<bool>("startAndStop");
    QTest::newRow("before start") << false;
    QTest::newRow("after stop") << true;
}

void tst_McuTransport::refusedUnlessRunning()
{
    QFETCH(bool, startAndStop);
    unixpeer::Names names("refused");
    unixpeer::Listener service(names.serviceName);
    QVERIFY(service.isListening());
    RecordingSink sink;
    McuTransport t(sink, names.endpoint());
    if (startAndStop) {
        t.start();
        Fd peer(service.accept(5000));
        QVERIFY(peer.fd >= 0);
        QCOMPARE(t.stop(), 0);
        char c;
        QCOMPARE(::read(peer.fd, &c, 1), ssize_t(0));
    }
    QCOMPARE(send(t, normal(1, 2, 3)), -1);
}

// The listener takes exactly the name's bytes, so an accepted connection
// proves the address length: no terminating NUL.
void tst_McuTransport::connectsFromOwnPathToServiceName()
{
    Connected link("address");
    unixpeer::Names &names = link.names;
    McuTransport &t = link.t;
    Fd &peer = link.peer;
    QVERIFY(peer.fd >= 0);

    struct sockaddr_un addr;
    socklen_t len = sizeof addr;
    QCOMPARE(::getpeername(peer.fd, reinterpret_cast<struct sockaddr *>(&addr), &len), 0);
    QCOMPARE(QByteArray(addr.sun_path), QByteArray::fromStdString(names.ownPath));
    struct stat st;
    QCOMPARE(::stat(names.ownPath.c_str(), &st), 0);
    QVERIFY(S_ISSOCK(st.st_mode));
    t.stop();
}

// The service stops reading: callers give up within about the deadline and
// never leave part of a frame behind.
void tst_McuTransport::stalledServiceBlocksNoCaller()
{
    Connected link("stalled");
    McuTransport &t = link.t;
    Fd &peer = link.peer;
    QVERIFY(peer.fd >= 0);

    const QByteArray frame = outboundLong(2, 0x101, QByteArray(200, 'B'));
    int accepted = 0;
    while (send(t, frame) == 0 && accepted < 100000)
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
                results[i] = send(t, frame);
        });
    }
    for (std::thread &s : senders)
        s.join();
    const QByteArray lines = out.take();

    QCOMPARE(results, std::vector<int>(12, -1));
    QCOMPARE(lines, QByteArray("===============>repeat call SendData\n").repeated(lines.count('\n')));

    QCOMPARE(drainPending(peer.fd), frame.repeated(accepted));
    QCOMPARE(send(t, frame), 0);
    QCOMPARE(readBytes(peer.fd, frame.size()), frame);
    t.stop();
}

// A frame larger than the socket can take while the service does not read:
// its head is on the wire, so the connection must go, and a new one comes.
void tst_McuTransport::unfinishableFrameEndsConnection()
{
    StdoutCapture out;
    Connected link("unfinishable");
    unixpeer::Listener &service = link.service;
    McuTransport &t = link.t;
    Fd &peer = link.peer;
    QVERIFY(peer.fd >= 0);

    const QByteArray huge(4 << 20, 'u');
    QCOMPARE(send(t, huge), -1);
    int got = 0;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(peer.fd, buf, sizeof buf)) > 0)
        got += int(n);
    QCOMPARE(n, ssize_t(0));
    QVERIFY(got > 0 && got < huge.size());

    Fd again(service.accept(5000));
    QVERIFY(again.fd >= 0);
    const QByteArray frame = normal(7, 8, 9);
    QTRY_COMPARE(send(t, frame), 0);
    QCOMPARE(readBytes(again.fd, frame.size()), frame);
    t.stop();
    QCOMPARE(out.take(), QByteArray("Main App invaild datalen:0\n"));
}

void tst_McuTransport::sendToGoneServiceRaisesNoSignal_data()
{
    QTest::addColumn<bool>("closeWholly");
    QTest::newRow("service stopped reading its end") << false;
    QTest::newRow("service closed and is gone") << true;
}

void tst_McuTransport::sendToGoneServiceRaisesNoSignal()
{
    QFETCH(bool, closeWholly);
    unixpeer::Names names("gone");
    auto service = std::make_unique<unixpeer::Listener>(names.serviceName);
    RecordingSink sink;
    McuTransport t(sink, names.endpoint());
    StdoutCapture out;
    t.start();
    Fd peer(service->accept(5000));
    QVERIFY(peer.fd >= 0);
    if (closeWholly) {
        service.reset();
        ::close(peer.fd);
        peer.fd = -1;
    } else {
        ::shutdown(peer.fd, SHUT_RD);
    }
    for (int i = 0; i < 20; ++i)
        QCOMPARE(send(t, normal(1, uint32_t(i), 0)), -1);
}

QTEST_GUILESS_MAIN(tst_McuTransport)
#include "tst_mcutransport.moc"

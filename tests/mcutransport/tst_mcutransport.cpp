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
    Connected link("stalled");
    McuTransport &t = link.t;
    const int peer = link.peer.fd;
    QVERIFY(peer >= 0);
    // The listener takes exactly the name's bytes, so the accepted connection
    // proves the address length (no terminating NUL); it comes from our own path.
    struct sockaddr_un addr;
    socklen_t len = sizeof addr;
    QCOMPARE(::getpeername(peer, reinterpret_cast<struct sockaddr *>(&addr), &len), 0);
    QCOMPARE(QByteArray(addr.sun_path), QByteArray::fromStdString(link.names.ownPath));
    struct stat st;
    QCOMPARE(::stat(link.names.ownPath.c_str(), &st), 0);
    QVERIFY(S_ISSOCK(st.st_mode));

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

    QCOMPARE(drainPending(peer), frame.repeated(accepted));
    QCOMPARE(send(t, frame), 0);
    QCOMPARE(readBytes(peer, frame.size()), frame);
}

// A frame larger than the socket can take while the service does not read:
// its head is on the wire, so the connection must go, and a new one comes.
void tst_McuTransport::unfinishableFrameEndsConnection()
{
    StdoutCapture out;
    Connected link("unfinishable");
    McuTransport &t = link.t;
    QVERIFY(link.peer.fd >= 0);

    const QByteArray huge(4 << 20, 'u');
    QCOMPARE(send(t, huge), -1);
    int got = 0;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(link.peer.fd, buf, sizeof buf)) > 0)
        got += int(n);
    QCOMPARE(n, ssize_t(0));
    QVERIFY(got > 0 && got < huge.size());

    Fd again(link.service.accept(5000));
    QVERIFY(again.fd >= 0);
    const QByteArray frame = normal(7, 8, 9);
    QTRY_COMPARE(send(t, frame), 0);
    QCOMPARE(readBytes(again.fd, frame.size()), frame);
    t.stop();
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
    unixpeer::Names names("refused");
    auto service = std::make_unique<unixpeer::Listener>(names.serviceName);
    QVERIFY(service->isListening());
    RecordingSink sink;
    McuTransport t(sink, names.endpoint());
    StdoutCapture out;
    Fd peer(-1);
    if (state > 0) {
        t.start();
        peer.fd = service->accept(5000);
        QVERIFY(peer.fd >= 0);
    }
    char c;
    if (state == 1) {
        QCOMPARE(t.stop(), 0);
        QCOMPARE(::read(peer.fd, &c, 1), ssize_t(0));
    } else if (state == 2) {
        ::shutdown(peer.fd, SHUT_RD);
    } else if (state == 3) {
        service.reset();
        ::close(peer.fd);
        peer.fd = -1;
    }
    for (int i = 0; i < 20; ++i)
        QCOMPARE(send(t, normal(1, uint32_t(i), 0)), -1);
}

QTEST_GUILESS_MAIN(tst_McuTransport)
#include "tst_mcutransport.moc"

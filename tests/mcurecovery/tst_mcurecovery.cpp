#include <QtTest>

#include "mcutestframes.h"
#include "stdoutcapture.h"
#include "testmessages.h"
#include "transportlink.h"

#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>

using McuTestFrames::normal;

namespace {

// An MCU service in a child process that drops to uid/gid 65534 before it
// listens, so that the kernel reports that user for its connections. For each
// connection it writes to the report pipe how many bytes came within 300 ms.
class ForeignService
{
public:
    explicit ForeignService(const std::string &serviceName)
    {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(m_report) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(m_report[0]);
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(1);
            serve(serviceName, ready[1], m_report[1]);
        }
        ::close(ready[1]);
        ::close(m_report[1]);
        char byte;
        m_listening = m_pid > 0 && unixpeer::readFull(ready[0], &byte, 1, 5000);
        ::close(ready[0]);
    }
    ~ForeignService()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_report[0]);
    }

    bool isListening() const { return m_listening; }
    pid_t pid() const { return m_pid; }

    // Bytes received on the next connection, -1 when none comes in time.
    int nextConnection(int timeoutMs = 5000)
    {
        int bytes = -1;
        return unixpeer::readFull(m_report[0], &bytes, sizeof bytes, timeoutMs) ? bytes : -1;
    }

private:
    [[noreturn]] static void serve(const std::string &serviceName, int ready, int report)
    {
        unixpeer::Listener listener(serviceName);
        const char byte = 1;
        if (!listener.isListening() || ::write(ready, &byte, 1) != 1)
            ::_exit(1);
        for (;;) {
            const int fd = listener.accept(-1);
            int bytes = 0;
            char buf[64];
            struct pollfd p = {fd, POLLIN, 0};
            while (::poll(&p, 1, 300) == 1) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n <= 0)
                    break;
                bytes += int(n);
            }
            ::close(fd);
            if (::write(report, &bytes, sizeof bytes) != sizeof bytes)
                ::_exit(0);
        }
    }

    pid_t m_pid = -1;
    int m_report[2] = {-1, -1};
    bool m_listening = false;
};

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
        QSKIP("dropping to another user needs root");
    QFETCH(QVector<long>, allowed);
    QFETCH(bool, served);

    TransportLink link("peer", QByteArray(), allowed.constData());
    link.stopListening();
    auto foreign = std::make_unique<ForeignService>(link.names.serviceName);
    QVERIFY(foreign->isListening());
    McuTransport &t = link.t;
    LinkEvents &observer = link.observer;
    StdoutCapture out;
    t.start();
    QCOMPARE(t.sendGreeting(Greeting.constData(), Greeting.size()), served ? 0 : -1);

    const QString who = QStringLiteral("pid %1 uid 65534").arg(foreign->pid());
    if (served) {
        QCOMPARE(foreign->nextConnection(), 16);
        QCOMPARE(observer.events().value(0), QStringLiteral("up %1 after none").arg(who));
        t.stop();
        return;
    }
    for (int i = 0; i < 4; ++i)
        QCOMPARE(foreign->nextConnection(), 0);
    QCOMPARE(t.sendData(normal(1, 2, 3).constData(), 16), -1);
    QCOMPARE(observer.events(), (QStringList{QStringLiteral("refused %1").arg(who), QStringLiteral("down 0")}));

    foreign.reset();
    link.listen();
    QVERIFY(link.accept());
    QCOMPARE(link.read(16), Greeting);
    t.stop();
    QCOMPARE(observer.events().value(2), QStringLiteral("up pid %1 uid 0 after retries").arg(getpid()));
}

QTEST_GUILESS_MAIN(tst_McuRecovery)
#include "tst_mcurecovery.moc"

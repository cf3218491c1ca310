#include <QtTest>

#include "childprogram.h"
#include "launcherprocess.h"

#include <QElapsedTimer>
#include <QTemporaryDir>


namespace {

// The service manager's end of NOTIFY_SOCKET: a datagram socket of the
// test's own, abstract ("@...") or a path, keeping every assignment it has
// received, in order. Reads what has come whenever it is asked.
class NotifyListener
{
public:
    explicit NotifyListener(const QString &name)
        : m_name(name)
    {
        struct sockaddr_un addr;
        const QByteArray bytes = name.toLocal8Bit();
        socklen_t len = mcuSocketAddress(bytes.constData(), size_t(bytes.size()), &addr);
        if (!bytes.startsWith('@')) {
            ::unlink(bytes.constData());
            qstrncpy(addr.sun_path, bytes.constData(), sizeof addr.sun_path);
            len = sizeof addr;
        }
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<struct sockaddr *>(&addr), len) == 0;
    }
    ~NotifyListener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_name.startsWith(QLatin1Char('@')))
            ::unlink(m_name.toLocal8Bit().constData());
    }

    bool isBound() const { return m_bound; }

    QStringList messages()
    {
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(m_fd, buf, sizeof buf, 0)) > 0) {
            for (const QByteArray &line : QByteArray(buf, int(n)).split('\n')) {
                if (!line.isEmpty())
                    m_messages << QString::fromUtf8(line);
            }
        }
        return m_messages;
    }
    int count(const QString &message) { return messages().count(message); }
    // STATUS= assignments that hold text.
    int statuses(const QString &text)
    {
        return messages().filter(QRegularExpression(QStringLiteral("^STATUS=.*") + QRegularExpression::escape(text))).size();
    }

private:
    QString m_name;
    int m_fd = -1;
    bool m_bound = false;
    QStringList m_messages;
};

// Under a manager on notifySocket, with a watchdog of 200 ms.
QProcessEnvironment managedEnvironment(const QTemporaryDir &dir, const unixpeer::Names &names, const QString &notifySocket)
{
    QProcessEnvironment env = launcherEnvironment(dir.path(), names);
    env.insert(QStringLiteral("NOTIFY_SOCKET"), notifySocket);
    env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));
    return env;
}

} // namespace

// The real launcher process under a service manager: a test plays the
// manager's side of NOTIFY_SOCKET and the MCU service's side of the link.
class tst_ServiceNotify : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestMessages::install(); }
    void talksToTheManager_data();
    void talksToTheManager();
    void missingSocketChangesNothing();
};

void tst_ServiceNotify::talksToTheManager_data()
{
    QTest::addColumn<bool>("abstract");
    QTest::newRow("abstract socket") << true;
    QTest::newRow("socket path") << false;
}

void tst_ServiceNotify::talksToTheManager()
{
    QFETCH(bool, abstract);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    unixpeer::Names names("notify");
    const QString socketName = abstract ? QString::fromStdString(names.serviceName) + QStringLiteral("-manager")
                                        : QString::fromStdString(names.ownPath) + QStringLiteral(".manager");
    NotifyListener manager(socketName);
    QVERIFY(manager.isBound());
    ChildProgram launcher;
    QVERIFY2(launcher.start(QStringLiteral(LAUNCHER_E2E_PATH), {}, managedEnvironment(dir, names, socketName)),
             qPrintable(launcher.errorString()));

    // No MCU service yet: starting, ready once the start is done, waiting,
    // the services come up.
    QTRY_VERIFY_WITH_TIMEOUT(manager.statuses(QStringLiteral("waiting for the MCU service")), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(manager.statuses(QStringLiteral("start-up (ms): main entered ")), 20000);
    QVERIFY(manager.statuses(QStringLiteral("starting")));
    QVERIFY(manager.statuses(QStringLiteral("all services ready")));
    QCOMPARE(manager.count(QStringLiteral("READY=1")), 1);

    // Pings at half of WATCHDOG_USEC from the main loop: about ten a second.
    const int before = manager.count(QStringLiteral("WATCHDOG=1"));
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(manager.count(QStringLiteral("WATCHDOG=1")) >= before + 10, 20000);
    const double spacing = double(clock.elapsed()) / (manager.count(QStringLiteral("WATCHDOG=1")) - before);
    QVERIFY2(spacing >= 60 && spacing <= 300, qPrintable(QString::number(spacing)));

    // The ready frame waited for the service's first connection.
    {
        unixpeer::Listener service(names.serviceName);
        const int fd = acceptReady(service, 20000);
        QVERIFY(fd >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(manager.statuses(QStringLiteral("MCU link up")), 20000);
        ::close(fd);
    }
    // The service goes away, then comes back.
    QTRY_VERIFY_WITH_TIMEOUT(manager.statuses(QStringLiteral("MCU link down since ")), 20000);
    const int upBefore = manager.statuses(QStringLiteral("MCU link up"));
    unixpeer::Listener again(names.serviceName);
    const int fd = again.accept(20000);
    QVERIFY(fd >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(manager.statuses(QStringLiteral("MCU link up")) > upBefore, 20000);
    QCOMPARE(manager.count(QStringLiteral("READY=1")), 1);

    QVERIFY(launcher.terminate());
    QVERIFY(launcher.waitForExit(20000));
    ::close(fd);
    QCOMPARE(launcher.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(manager.messages().last(), QStringLiteral("STOPPING=1"), 5000);

    // The checkpoint table, once, with times that follow the start's order.
    const QString output = QString::fromLocal8Bit(launcher.readOutput());
    QCOMPARE(output.count(QStringLiteral("start-up checkpoints")), 1);
    const QStringList order = {QStringLiteral("main entered"), QStringLiteral("application constructed"),
                               QStringLiteral("settings applied"), QStringLiteral("framework managers up"),
                               QStringLiteral("first frame shown"), QStringLiteral("stage 0 started"),
                               QStringLiteral("stage 1 started"), QStringLiteral("all services ready")};
    double previous = 0;
    for (const QString &step : order) {
        const QRegularExpressionMatch m = QRegularExpression(step + QStringLiteral(" +([0-9.]+)\n")).match(output);
        QVERIFY2(m.hasMatch(), qPrintable(step));
        const double ms = m.captured(1).toDouble();
        QVERIFY2(ms >= previous && ms < 60000, qPrintable(step));
        previous = ms;
    }
}

// A NOTIFY_SOCKET that names nothing: the launcher runs and stops as always,
// and says nothing about it.
void tst_ServiceNotify::missingSocketChangesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    unixpeer::Names names("nonotify");
    unixpeer::Listener service(names.serviceName);
    ChildProgram launcher;
    const QString nowhere = QString::fromStdString(names.ownPath) + QStringLiteral(".nobody");
    QVERIFY(launcher.start(QStringLiteral(LAUNCHER_E2E_PATH), {}, managedEnvironment(dir, names, nowhere)));
    const int fd = acceptReady(service, 20000);
    QVERIFY(fd >= 0);
    QVERIFY(launcher.terminate());
    QVERIFY(launcher.waitForExit(20000));
    ::close(fd);
    QCOMPARE(launcher.exitCode(), 0);
    // The test's own directory, named after the test, is in the journal.
    const QString output = QString::fromLocal8Bit(launcher.readOutput()).remove(dir.path());
    QVERIFY2(!output.contains(QStringLiteral("notify"), Qt::CaseInsensitive), qPrintable(output));
    QVERIFY(!QFileInfo::exists(nowhere));
}

QTEST_GUILESS_MAIN(tst_ServiceNotify)
#include "tst_servicenotify.moc"

#include <QtTest>

#include "childprogram.h"
#include "testmessages.h"
#include "unixpeer.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace {

// The service manager's end of NOTIFY_SOCKET: a datagram socket of the
// test's own, abstract ("@...") or a path, keeping every assignment it
// receives with the time it came, in order.
class NotifyListener
{
public:
    explicit NotifyListener(const QString &name)
        : m_name(name)
    {
        struct sockaddr_un addr;
        std::memset(&addr, 0, sizeof addr);
        addr.sun_family = AF_UNIX;
        const QByteArray bytes = name.toLocal8Bit();
        std::memcpy(addr.sun_path, bytes.constData(), size_t(bytes.size()));
        if (bytes.startsWith('@'))
            addr.sun_path[0] = '\0';
        else
            ::unlink(bytes.constData());
        const socklen_t len = socklen_t(offsetof(struct sockaddr_un, sun_path) + size_t(bytes.size()));
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<struct sockaddr *>(&addr), len) != 0)
            return;
        m_clock.start();
        m_reader = std::thread([this] { read(); });
    }
    ~NotifyListener()
    {
        m_stop = true;
        if (m_reader.joinable())
            m_reader.join();
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_name.startsWith(QLatin1Char('@')))
            ::unlink(m_name.toLocal8Bit().constData());
    }

    bool isBound() const { return m_reader.joinable(); }

    QStringList messages()
    {
        QMutexLocker lock(&m_mutex);
        return m_messages;
    }
    int count(const QString &message)
    {
        return messages().count(message);
    }
    bool contains(const QString &prefix, const QString &part = QString())
    {
        for (const QString &m : messages()) {
            if (m.startsWith(prefix) && m.contains(part))
                return true;
        }
        return false;
    }
    // Milliseconds since the listener was made, for each message equal to message.
    QList<qint64> times(const QString &message)
    {
        QMutexLocker lock(&m_mutex);
        QList<qint64> at;
        for (int i = 0; i < m_messages.size(); ++i) {
            if (m_messages.at(i) == message)
                at << m_times.at(i);
        }
        return at;
    }

private:
    void read()
    {
        char buf[4096];
        while (!m_stop) {
            struct pollfd p = {m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) != 1)
                continue;
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                continue;
            QMutexLocker lock(&m_mutex);
            for (const QByteArray &line : QByteArray(buf, int(n)).split('\n')) {
                if (!line.isEmpty()) {
                    m_messages << QString::fromUtf8(line);
                    m_times << m_clock.elapsed();
                }
            }
        }
    }

    QString m_name;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    QElapsedTimer m_clock;      // reader thread, after construction
    QMutex m_mutex;
    QStringList m_messages;     // under m_mutex
    QList<qint64> m_times;      // under m_mutex
    std::thread m_reader;
};

QProcessEnvironment launcherEnvironment(const QTemporaryDir &dir, const unixpeer::Names &names, const QString &notifySocket)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HEADUNIT_SETTINGS"), dir.filePath(QStringLiteral("settings.ini")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("HEADUNIT_TEST_MCU_NAME"), QString::fromStdString(names.name));
    env.insert(QStringLiteral("NOTIFY_SOCKET"), notifySocket);
    env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));
    return env;
}

const QByteArray ReadyFrame = QByteArray::fromHex("01000000" "0c000000" "11000000" "02000000");

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
    QVERIFY2(launcher.start(QStringLiteral(LAUNCHER_E2E_PATH), {}, launcherEnvironment(dir, names, socketName)),
             qPrintable(launcher.errorString()));

    // No MCU service yet: starting, waiting, the services come up, no READY.
    QTRY_VERIFY_WITH_TIMEOUT(manager.contains(QStringLiteral("STATUS="), QStringLiteral("waiting for the MCU service")), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(manager.contains(QStringLiteral("STATUS=start-up (ms): main entered ")), 20000);
    QVERIFY(manager.contains(QStringLiteral("STATUS=starting")));
    QVERIFY(manager.contains(QStringLiteral("STATUS=all services ready")));
    QCOMPARE(manager.count(QStringLiteral("READY=1")), 0);

    // Pings at half of WATCHDOG_USEC from the main loop: about ten a second.
    QTRY_VERIFY_WITH_TIMEOUT(manager.times(QStringLiteral("WATCHDOG=1")).size() >= 11, 20000);
    const QList<qint64> pings = manager.times(QStringLiteral("WATCHDOG=1"));
    const double spacing = double(pings.last() - pings.first()) / (pings.size() - 1);
    QVERIFY2(spacing >= 80 && spacing <= 300, qPrintable(QString::number(spacing)));

    // READY comes once the service holds the ready frame, never before.
    {
        unixpeer::Listener service(names.serviceName);
        const int fd = service.accept(20000);
        QVERIFY(fd >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(manager.count(QStringLiteral("READY=1")), 1, 20000);
        QByteArray frame(16, '\0');
        QVERIFY(unixpeer::readFull(fd, frame.data(), 16, 0));
        QCOMPARE(frame, ReadyFrame);
        QTRY_VERIFY_WITH_TIMEOUT(manager.contains(QStringLiteral("STATUS="), QStringLiteral("MCU link up")), 20000);
        ::close(fd);
    }
    // The service goes away, then comes back.
    QTRY_VERIFY_WITH_TIMEOUT(manager.contains(QStringLiteral("STATUS="), QStringLiteral("MCU link down since ")), 20000);
    const int upBefore = manager.messages().filter(QStringLiteral("MCU link up")).size();
    unixpeer::Listener again(names.serviceName);
    const int fd = again.accept(20000);
    QVERIFY(fd >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(manager.messages().filter(QStringLiteral("MCU link up")).size() > upBefore, 20000);
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
    QVERIFY(launcher.start(QStringLiteral(LAUNCHER_E2E_PATH), {}, launcherEnvironment(dir, names, nowhere)));
    const int fd = service.accept(20000);
    QVERIFY(fd >= 0);
    QByteArray frame(16, '\0');
    QVERIFY(unixpeer::readFull(fd, frame.data(), 16, 20000));
    QCOMPARE(frame, ReadyFrame);
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

#include <QtTest>

#include <application.h>

#include <hostplatform.h>
#include <journal.h>

#include "testmessages.h"

#include <csignal>

// Records what reaches it; returns false so that a delivered event is told
// apart from a swallowed one (notify() answers true for those).
class Recorder : public QObject
{
    Q_OBJECT

public:
    QList<int> received;

protected:
    bool event(QEvent *e) override
    {
        received << e->type();
        return false;
    }
};

// The pixmap cache's class name, and one that differs only in letter case.
class QPMCache : public Recorder
{
    Q_OBJECT
};
class QPMcache : public Recorder
{
    Q_OBJECT
};

class FilterSpy : public QObject
{
public:
    int seen = 0;

protected:
    bool eventFilter(QObject *, QEvent *) override
    {
        ++seen;
        return false;
    }
};

class tst_Application : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestMessages::install(); }
    void init();
    void cleanup();
    void swallowsExactlyTheTableWhileHidden_data();
    void swallowsExactlyTheTableWhileHidden();
    void timerOnlyForPixmapCache_data();
    void timerOnlyForPixmapCache();
    void visibilityFollowsThePlatform();

private:
    static bool send(QObject *receiver, int type);
};

// The event types that mean painting, layout, focus and polish.
static const QSet<int> Swallowed = {5, 8, 9, 12, 14, 15, 16, 17, 18, 21, 23, 26, 27, 39,
                                    68, 69, 71, 73, 74, 75, 76, 77, 78, 97, 207};

bool tst_Application::send(QObject *receiver, int type)
{
    QEvent event{QEvent::Type(type)};
    return QCoreApplication::sendEvent(receiver, &event);
}

void tst_Application::init()
{
    HostPlatform::reset();
}

void tst_Application::cleanup()
{
    HostPlatform::setVisible(true);
}

void tst_Application::swallowsExactlyTheTableWhileHidden_data()
{
    QTest::addColumn<bool>("visible");
    QTest::newRow("visible") << true;
    QTest::newRow("hidden") << false;
}

void tst_Application::swallowsExactlyTheTableWhileHidden()
{
    QFETCH(bool, visible);
    HostPlatform::setVisible(visible);
    FilterSpy filter;
    qApp->installEventFilter(&filter);
    Recorder receiver;
    for (int type = 2; type <= 1200; ++type) {
        const int filtered = filter.seen;
        const bool answered = send(&receiver, type);
        const bool swallowed = !visible && Swallowed.contains(type);
        QVERIFY2(answered == swallowed, qPrintable(QStringLiteral("type %1").arg(type)));
        QVERIFY2(receiver.received.contains(type) != swallowed, qPrintable(QStringLiteral("type %1").arg(type)));
        // Swallowed before the application-wide filters, the beep filter among them.
        QCOMPARE(filter.seen - filtered, swallowed ? 0 : 1);
    }
    qApp->removeEventFilter(&filter);
}

void tst_Application::timerOnlyForPixmapCache_data()
{
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("receiverKind");
    QTest::addColumn<bool>("delivered");

    QTest::newRow("hidden, pixmap cache") << false << 0 << false;
    QTest::newRow("hidden, letter case differs") << false << 1 << true;
    QTest::newRow("hidden, any other object") << false << 2 << true;
    QTest::newRow("visible, pixmap cache") << true << 0 << true;
}

void tst_Application::timerOnlyForPixmapCache()
{
    QFETCH(bool, visible);
    QFETCH(int, receiverKind);
    QFETCH(bool, delivered);
    HostPlatform::setVisible(visible);

    QPMCache cache;
    QPMcache lookalike;
    Recorder other;
    Recorder *receivers[] = {&cache, &lookalike, &other};
    Recorder *receiver = receivers[receiverKind];
    QTimerEvent timer(1);
    QCoreApplication::sendEvent(receiver, &timer);
    QCOMPARE(receiver->received.contains(QEvent::Timer), delivered);
}

void tst_Application::visibilityFollowsThePlatform()
{
    // Asked on every event: a change takes effect with the next one.
    Recorder receiver;
    HostPlatform::setVisible(false);
    send(&receiver, QEvent::Paint);
    HostPlatform::setVisible(true);
    send(&receiver, QEvent::Paint);
    // The host's switch for a person at the keyboard, journalled when it
    // happens rather than at the next event.
    HostJournal::clear();
    std::raise(SIGUSR1);
    QTRY_COMPARE(HostJournal::lines(), QStringList{QStringLiteral("Application::isApVisible() changed to false")});
    send(&receiver, QEvent::Paint);
    QCOMPARE(receiver.received, QList<int>{QEvent::Paint});
}

int main(int argc, char **argv)
{
    Application app(argc, argv);
    tst_Application test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"

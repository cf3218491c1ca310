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
    void init() { HostPlatform::reset(); }
    void cleanup() { HostPlatform::setVisible(true); }
    void deliveredUnlessHidden_data();
    void deliveredUnlessHidden();
    void visibilityFollowsThePlatform();

private:
    static bool send(QObject *receiver, int type);
};

bool tst_Application::send(QObject *receiver, int type)
{
    QEvent event{QEvent::Type(type)};
    return QCoreApplication::sendEvent(receiver, &event);
}

void tst_Application::deliveredUnlessHidden_data()
{
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("receiverKind");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("delivered");

    // Receivers: 0 the pixmap cache, 1 a name that differs in letter case, 2 any other.
    QTest::newRow("hidden, paint") << false << 2 << int(QEvent::Paint) << false;
    QTest::newRow("hidden, key press") << false << 2 << int(QEvent::KeyPress) << true;
    QTest::newRow("visible, paint") << true << 2 << int(QEvent::Paint) << true;
    QTest::newRow("hidden, timer of the pixmap cache") << false << 0 << int(QEvent::Timer) << false;
    QTest::newRow("hidden, timer, letter case differs") << false << 1 << int(QEvent::Timer) << true;
    QTest::newRow("hidden, timer of any other object") << false << 2 << int(QEvent::Timer) << true;
    QTest::newRow("visible, timer of the pixmap cache") << true << 0 << int(QEvent::Timer) << true;
}

// A swallowed event is answered true and reaches neither the receiver nor
// the application-wide filters, the beep filter among them.
void tst_Application::deliveredUnlessHidden()
{
    QFETCH(bool, visible);
    QFETCH(int, receiverKind);
    QFETCH(int, type);
    QFETCH(bool, delivered);
    HostPlatform::setVisible(visible);

    QPMCache cache;
    QPMcache lookalike;
    Recorder other;
    Recorder *receivers[] = {&cache, &lookalike, &other};
    Recorder *receiver = receivers[receiverKind];
    FilterSpy filter;
    qApp->installEventFilter(&filter);
    QScopedPointer<QEvent> event(type == QEvent::Timer ? new QTimerEvent(1) : new QEvent(QEvent::Type(type)));
    const bool answered = QCoreApplication::sendEvent(receiver, event.data());
    qApp->removeEventFilter(&filter);
    QCOMPARE(receiver->received.contains(type), delivered);
    if (type != QEvent::Timer) {
        QCOMPARE(answered, !delivered);
        QCOMPARE(filter.seen, delivered ? 1 : 0);
    }
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

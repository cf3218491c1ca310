#include <QtTest>

#include <meventfilter.h>

#include <datadefault.h>
#include <datasavecontrol.h>
#include <setupstridconst.h>

#include <hostplatform.h>

#include "loglines.h"
#include "testmessages.h"

#include <fakewallclock.h>

#include <QKeyEvent>
#include <QPointer>
#include <QSettings>
#include <QSoundEffect>
#include <QTemporaryDir>

// The filter's debounce time and last volume are statics that live for the
// whole process, as on the device: the test functions run in declaration order
// and each one starts its clock far from the last key press. The clock is the
// process's wall clock, frozen where the test puts it.

namespace {

qint64 g_now = 1700000000000;

void advance(qint64 ms)
{
    g_now += ms;
    fakeWallClockFreeze(g_now / 1000, g_now % 1000);
}

bool logged(const QString &text)
{
    return !LogLines::lines().filter(text).isEmpty();
}

// Whether playSound() got past its first check: the beep switch is the first
// setting it reads.
bool askedBeepSwitch()
{
    return logged(QStringLiteral("readSettingData(%1, ").arg(SetupStrIdConst::setupSysBeep));
}

// Counts what reaches it, so that a swallowed event shows.
class KeyReceiver : public QObject
{
public:
    int seen = 0;
    bool event(QEvent *event) override { ++seen; return QObject::event(event); }
};

// One key event: milliseconds after the previous one, key, text, and whether
// it is taken as a beep request (then the beep switch is read).
struct Press {
    qint64 afterMs;
    int key;
    const char *text;
    bool plays;
    QEvent::Type type = QEvent::KeyPress;
};
using Presses = QList<Press>;

} // namespace

Q_DECLARE_METATYPE(Presses)

class tst_MEventFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase() { LogLines::uninstall(); }
    void keyPresses_data();
    void keyPresses();
    void volumeTable_data();
    void volumeTable();
    void playingBeepIsNotRestarted();
    void deleteInstance();

private:
    // As text, the way the store finds values in a file it did not write.
    void useSettings(const QString &beep, const QString &volume);
    // Sends a key event, starting out ignored, to an object of its own through
    // the application and so through the filter.
    void send(QEvent::Type type, int key, const QString &text);
    void beep() { send(QEvent::KeyPress, Qt::Key_Meta, QStringLiteral("beep")); }
    QSoundEffect *currentSound() const;
    QString file(const char *name) const { return m_soundDir + QLatin1String(name); }
    // Ends the current beep as the sound library would at the end of the file.
    // Without a sound server it would never end on its own.
    void endBeep() { currentSound()->stop(); }

    QTemporaryDir m_dir;
    int m_files = 0;
    MEventFilter *m_filter = nullptr;
    bool m_accepted = false; // by the filter, in the last send()
    QString m_soundDir = QStringLiteral(HEADUNIT_SOUND_DIR);
};

void tst_MEventFilter::initTestCase()
{
    TestMessages::install();
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFile::exists(file("5.wav")), qPrintable(m_soundDir));
    LogLines::install();
    DataDefault::initDataDefault();

    m_filter = MEventFilter::GetInstance();
    qApp->installEventFilter(m_filter);
}

void tst_MEventFilter::init()
{
    HostPlatform::reset();
    useSettings(QStringLiteral("true"), QStringLiteral("5"));
    advance(100000);
    if (currentSound())
        endBeep();
    LogLines::clear();
}

void tst_MEventFilter::useSettings(const QString &beep, const QString &volume)
{
    const QString path = m_dir.filePath(QStringLiteral("settings-%1.ini").arg(++m_files));
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(SetupStrIdConst::setupSysBeep, beep);
    settings.setValue(SetupStrIdConst::setupAlterVolume, volume);
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
    qputenv("HEADUNIT_SETTINGS", QFile::encodeName(path));
    DataSaveControl::initQSettingPath();
}

void tst_MEventFilter::send(QEvent::Type type, int key, const QString &text)
{
    KeyReceiver receiver;
    QKeyEvent event(type, key, Qt::NoModifier, text);
    event.ignore();
    QCoreApplication::sendEvent(&receiver, &event);
    QCOMPARE(receiver.seen, 1);
    m_accepted = event.isAccepted();
}

QSoundEffect *tst_MEventFilter::currentSound() const
{
    // Children keep their order of creation; a replaced sound stays a child
    // until the event loop deletes it.
    const QList<QSoundEffect *> sounds = m_filter->findChildren<QSoundEffect *>(QString(), Qt::FindDirectChildrenOnly);
    return sounds.isEmpty() ? nullptr : sounds.last();
}

void tst_MEventFilter::keyPresses_data()
{
    QTest::addColumn<Presses>("presses");
    // Where the clock stands before the first press (ms since the epoch),
    // 0: it goes on from the last row.
    QTest::addColumn<qint64>("startsAt");

    const int meta = Qt::Key_Meta;
    // Ignored 120 ms after a played beep, played 121 ms after it: the ignored
    // press between does not move the debounce.
    QTest::newRow("debounce borders") << Presses{{0, meta, "beep", true}, {120, meta, "beep", false}, {1, meta, "beep", true}} << qint64(0);
    QTest::newRow("clock set back 1 ms") << Presses{{0, meta, "beep", true}, {-1, meta, "beep", true}} << qint64(0);
    QTest::newRow("capital B") << Presses{{0, meta, "Beep", false}, {120, meta, "beep", false}} << qint64(0);
    QTest::newRow("other key with text beep moves it") << Presses{{0, Qt::Key_B, "beep", false}, {120, meta, "beep", false}} << qint64(0);
    // The 32-bit time_t's last second, its overflow and 2040: the debounce
    // still holds wherever the process's libraries keep 32-bit time.
    QTest::newRow("debounce across 2038-01-19 03:14:08") << Presses{{0, meta, "beep", true}, {120, meta, "beep", false}, {1, meta, "beep", true}}
                                                         << qint64(2147483647880);
    QTest::newRow("debounce on 2040-01-01") << Presses{{0, meta, "beep", true}, {120, meta, "beep", false}, {1, meta, "beep", true}}
                                            << qint64(2208988800000);
    QTest::newRow("key release moves nothing") << Presses{{0, meta, "beep", false, QEvent::KeyRelease}, {120, meta, "beep", true}} << qint64(0);
}

void tst_MEventFilter::keyPresses()
{
    QFETCH(Presses, presses);
    QFETCH(qint64, startsAt);

    if (startsAt)
        advance(startsAt - g_now);
    for (int i = 0; i < presses.size(); ++i) {
        const Press &press = presses.at(i);
        advance(press.afterMs);
        LogLines::clear();
        send(press.type, press.key, QLatin1String(press.text));
        QVERIFY2(askedBeepSwitch() == press.plays, qPrintable(QStringLiteral("press %1").arg(i)));
        // Delivered in every case; marked accepted only when the beep was handled.
        QCOMPARE(m_accepted, press.plays);
        endBeep();
    }
}

void tst_MEventFilter::volumeTable_data()
{
    QTest::addColumn<QString>("beepSwitch");
    QTest::addColumn<bool>("audioReady");
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QString>("file"); // empty: nothing is played

    // A word reads as volume 0.
    const char *volumes[] = {"-3", "10", "11", "15", "16", "20", "21", "30", "31", "loud"};
    const char *files[] = {"1", "1", "2", "2", "3", "3", "4", "4", "5", "1"};
    for (int i = 0; i < 10; ++i)
        QTest::newRow(volumes[i]) << "true" << true << QString(volumes[i]) << QString(files[i]) + ".wav";
    QTest::newRow("empty beep switch is off") << "" << true << "25" << "";
    QTest::newRow("audio not ready") << "true" << false << "25" << "";
}

void tst_MEventFilter::volumeTable()
{
    QFETCH(QString, beepSwitch);
    QFETCH(bool, audioReady);
    QFETCH(QString, volume);
    QFETCH(QString, file);

    // From a volume no row uses, so that every row is a change.
    useSettings(QStringLiteral("true"), QStringLiteral("1000"));
    beep();
    endBeep();
    // The sound this replaced goes before the next key press comes, as the
    // event loop takes them in turn.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QPointer<QSoundEffect> before = currentSound();
    useSettings(beepSwitch, volume);
    HostPlatform::setAudioReady(audioReady);
    LogLines::clear();
    advance(121);
    beep();
    QVERIFY(askedBeepSwitch() && m_accepted);
    if (file.isEmpty()) {
        QVERIFY(!logged(SetupStrIdConst::setupAlterVolume));
        QCOMPARE(currentSound(), before.data());
        return;
    }

    QSoundEffect *made = currentSound();
    QCOMPARE(made->source().toLocalFile(), m_soundDir + file);
    // Another volume on the same file keeps the sound (volume 1000 made
    // 5.wav); a replaced sound goes at the next turn of the event loop; the
    // same volume again reuses the new one.
    QVERIFY(before);
    if (file == QLatin1String("5.wav"))
        QCOMPARE(made, before.data());
    else
        QTRY_VERIFY(!before);
    endBeep();
    advance(121);
    beep();
    QVERIFY(logged(QStringLiteral("readSettingData(%1, ").arg(SetupStrIdConst::setupAlterVolume)));
    QTRY_COMPARE(m_filter->findChildren<QSoundEffect *>(), QList<QSoundEffect *>{made});
}

void tst_MEventFilter::playingBeepIsNotRestarted()
{
    beep();
    QSoundEffect *playing = currentSound();
    // The platform knows the signal and the slot by name only.
    QVERIFY(m_filter->metaObject()->indexOfSignal("mcuPlayBeepSig()") >= 0);
    if (!playing->isPlaying())
        QSKIP("the sound library ended the beep at once, so there is no playing beep to protect");

    // Nothing is read, so the new volume cannot replace the playing sound.
    useSettings(QStringLiteral("true"), QStringLiteral("40"));
    LogLines::clear();
    QVERIFY(QMetaObject::invokeMethod(m_filter, "playSound", Qt::DirectConnection));
    advance(121);
    beep();

    QVERIFY(LogLines::lines().isEmpty());
    QCOMPARE(currentSound(), playing);
    QVERIFY(m_accepted);
}

void tst_MEventFilter::deleteInstance()
{
    QPointer<MEventFilter> filter = m_filter;
    QPointer<QSoundEffect> sound = currentSound();

    MEventFilter::DeleteInstance();
    QVERIFY(!filter && !sound);
    MEventFilter::DeleteInstance();

    // The first sound is made by the event loop, not by the start.
    m_filter = MEventFilter::GetInstance();
    QVERIFY(!currentSound());
    QTRY_VERIFY(currentSound());
    QCOMPARE(currentSound()->source().toLocalFile(), file("1.wav"));
    MEventFilter::DeleteInstance();
}

QTEST_MAIN(tst_MEventFilter)
#include "tst_meventfilter.moc"

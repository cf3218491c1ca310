#include <QtTest>

#include <meventfilter.h>

#include <datadefault.h>
#include <datasavecontrol.h>
#include <setupstridconst.h>

#include <hostplatform.h>
#include <journal.h>

#include <QKeyEvent>
#include <QPointer>
#include <QSettings>
#include <QSound>
#include <QTemporaryDir>

#include <unistd.h>

// The filter's debounce time and last volume are statics that live for the
// whole process, as on the device: the test functions run in declaration order
// and each one starts its clock far from the last key press.

namespace {

qint64 g_now = 1700000000000;

qint64 testClock()
{
    return g_now;
}

QStringList g_debugLines;
QtMessageHandler g_previousHandler = nullptr;

void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && qstrcmp(context.category, "default") == 0)
        g_debugLines.append(message);
    g_previousHandler(type, context, message);
}

// Whether playSound() got past its first check: the beep switch is the first
// setting it reads.
bool askedBeepSwitch()
{
    const QString read = QStringLiteral("DataSaveControl::readSettingData(%1, ").arg(SetupStrIdConst::setupSysBeep);
    for (const QString &line : HostJournal::lines()) {
        if (line.startsWith(read))
            return true;
    }
    return false;
}

bool journalHas(const QString &prefix)
{
    for (const QString &line : HostJournal::lines()) {
        if (line.startsWith(prefix))
            return true;
    }
    return false;
}

class KeyReceiver : public QObject
{
public:
    int presses = 0;
    bool accepted = false;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            ++presses;
            accepted = event->isAccepted();
        }
        return QObject::event(event);
    }
};

struct Press {
    qint64 afterMs;
    bool beepRequest;
    bool plays;
};

} // namespace

Q_DECLARE_METATYPE(QList<Press>)

class tst_MEventFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void metaObject();
    void firstBeepMakesOneSoundPerVolume();
    void debounce_data();
    void debounce();
    void beepRequestVariants_data();
    void beepRequestVariants();
    void dropped_data();
    void dropped();
    void volumeTable_data();
    void volumeTable();
    void playingBeepIsNotRestarted();
    void playSoundThroughMetaObject();
    void deleteInstance();

private:
    void useSettings(bool beep, int volume);
    // Sends a key event to an object of its own, through the application and
    // so through the filter; the event starts out ignored.
    void send(QEvent::Type type, int key, const QString &text);
    void beep() { send(QEvent::KeyPress, Qt::Key_Meta, QStringLiteral("beep")); }
    QSound *currentSound() const;
    // Ends the current beep as the sound library would at the end of the file.
    // Without a sound server it would never end on its own.
    void endBeep() { currentSound()->stop(); }
    void startRecording();

    QTemporaryDir m_dir;
    int m_files = 0;
    MEventFilter *m_filter = nullptr;
    KeyReceiver m_receiver;
    QString m_soundDir;
};

void tst_MEventFilter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_soundDir = QStringLiteral(HEADUNIT_SOUND_DIR);
    QVERIFY2(QFile::exists(m_soundDir + QLatin1String("5.wav")), qPrintable(m_soundDir));
    g_previousHandler = qInstallMessageHandler(captureLog);
    DataDefault::initDataDefault();

    MEventFilter::m_s_now = testClock;
    m_filter = MEventFilter::GetInstance();
    QCOMPARE(MEventFilter::GetInstance(), m_filter);
    QVERIFY(!m_filter->parent());
    qApp->installEventFilter(m_filter);
}

void tst_MEventFilter::cleanupTestCase()
{
    qInstallMessageHandler(g_previousHandler);
}

void tst_MEventFilter::init()
{
    HostPlatform::reset();
    useSettings(true, 5);
    g_now += 100000;
    if (currentSound())
        endBeep();
    startRecording();
}

void tst_MEventFilter::useSettings(bool beep, int volume)
{
    const QString path = m_dir.filePath(QStringLiteral("settings-%1-%2.ini").arg(getpid()).arg(++m_files));
    QSettings file(path, QSettings::IniFormat);
    // As text, the way the store finds values in a file it did not write.
    file.setValue(SetupStrIdConst::setupSysBeep, beep ? QStringLiteral("true") : QStringLiteral("false"));
    file.setValue(SetupStrIdConst::setupAlterVolume, QString::number(volume));
    file.sync();
    QCOMPARE(file.status(), QSettings::NoError);
    qputenv("HEADUNIT_SETTINGS", QFile::encodeName(path));
    DataSaveControl::initQSettingPath();
}

void tst_MEventFilter::send(QEvent::Type type, int key, const QString &text)
{
    m_receiver.presses = 0;
    QKeyEvent event(type, key, Qt::NoModifier, text);
    event.ignore();
    QCoreApplication::sendEvent(&m_receiver, &event);
    QCOMPARE(m_receiver.presses, 1);
}

QSound *tst_MEventFilter::currentSound() const
{
    // Children keep their order of creation; a replaced sound stays a child
    // until the event loop deletes it.
    const QList<QSound *> sounds = m_filter->findChildren<QSound *>(QString(), Qt::FindDirectChildrenOnly);
    return sounds.isEmpty() ? nullptr : sounds.last();
}

void tst_MEventFilter::startRecording()
{
    HostJournal::clear();
    g_debugLines.clear();
}

void tst_MEventFilter::metaObject()
{
    const QMetaObject *meta = m_filter->metaObject();
    QCOMPARE(meta->className(), "MEventFilter");
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 2);
    QCOMPARE(meta->propertyCount() - meta->propertyOffset(), 0);

    const QMetaMethod signal = meta->method(meta->methodOffset());
    QCOMPARE(signal.methodSignature(), QByteArray("mcuPlayBeepSig()"));
    QCOMPARE(signal.methodType(), QMetaMethod::Signal);
    QCOMPARE(signal.access(), QMetaMethod::Public);

    const QMetaMethod slot = meta->method(meta->methodOffset() + 1);
    QCOMPARE(slot.methodSignature(), QByteArray("playSound()"));
    QCOMPARE(slot.methodType(), QMetaMethod::Slot);
    QCOMPARE(slot.access(), QMetaMethod::Public);
}

void tst_MEventFilter::firstBeepMakesOneSoundPerVolume()
{
    QPointer<QSound> initial = currentSound();
    QVERIFY(initial);
    QCOMPARE(initial->fileName(), m_soundDir + QLatin1String("1.wav"));

    beep();
    QVERIFY(m_receiver.accepted);
    QSound *first = currentSound();
    QVERIFY(first != initial);
    QCOMPARE(first->fileName(), m_soundDir + QLatin1String("1.wav"));
    QCOMPARE(g_debugLines, QStringList{QStringLiteral("==================>>>>vol 5")});
    // The replaced sound goes at the next turn of the event loop.
    QVERIFY(initial);
    QTRY_VERIFY(!initial);

    endBeep();
    startRecording();
    g_now += 121;
    beep();
    QCOMPARE(currentSound(), first);
    QCOMPARE(m_filter->findChildren<QSound *>().size(), 1);
    QVERIFY(g_debugLines.isEmpty());
    QVERIFY(journalHas(QStringLiteral("DataSaveControl::readSettingData(%1, ").arg(SetupStrIdConst::setupAlterVolume)));
}

void tst_MEventFilter::debounce_data()
{
    QTest::addColumn<QList<Press>>("presses");

    QTest::newRow("beep 120 ms after a beep is ignored") << QList<Press>{{0, true, true}, {120, true, false}};
    QTest::newRow("beep 121 ms after a beep plays") << QList<Press>{{0, true, true}, {121, true, true}};
    QTest::newRow("beep 120 ms after another key is ignored") << QList<Press>{{0, false, false}, {120, true, false}};
    QTest::newRow("beep 121 ms after another key plays") << QList<Press>{{0, false, false}, {121, true, true}};
    QTest::newRow("ignored beep does not move the debounce")
        << QList<Press>{{0, true, true}, {120, true, false}, {1, true, true}};
    QTest::newRow("ignored key does not move the debounce")
        << QList<Press>{{0, true, true}, {60, false, false}, {61, true, true}};
    QTest::newRow("clock set back 1 ms") << QList<Press>{{0, true, true}, {-1, true, true}};
    QTest::newRow("clock set back a day") << QList<Press>{{0, true, true}, {-86400000, true, true}};
}

void tst_MEventFilter::debounce()
{
    QFETCH(QList<Press>, presses);

    for (int i = 0; i < presses.size(); ++i) {
        const Press &press = presses.at(i);
        g_now += press.afterMs;
        startRecording();
        if (press.beepRequest)
            beep();
        else
            send(QEvent::KeyPress, Qt::Key_A, QStringLiteral("a"));
        QVERIFY2(askedBeepSwitch() == press.plays, qPrintable(QStringLiteral("press %1").arg(i)));
        endBeep();
    }
}

void tst_MEventFilter::beepRequestVariants_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("plays");
    QTest::addColumn<bool>("movesDebounce");

    const int press = QEvent::KeyPress;
    QTest::newRow("beep request") << press << int(Qt::Key_Meta) << "beep" << true << true;
    QTest::newRow("capital B") << press << int(Qt::Key_Meta) << "Beep" << false << true;
    QTest::newRow("upper case") << press << int(Qt::Key_Meta) << "BEEP" << false << true;
    QTest::newRow("trailing blank") << press << int(Qt::Key_Meta) << "beep " << false << true;
    QTest::newRow("no text") << press << int(Qt::Key_Meta) << "" << false << true;
    QTest::newRow("other key with text beep") << press << int(Qt::Key_B) << "beep" << false << true;
    QTest::newRow("key release is no key press") << int(QEvent::KeyRelease) << int(Qt::Key_Meta) << "beep" << false << false;
}

void tst_MEventFilter::beepRequestVariants()
{
    QFETCH(int, type);
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(bool, plays);
    QFETCH(bool, movesDebounce);

    send(QEvent::Type(type), key, text);
    QCOMPARE(askedBeepSwitch(), plays);
    // Delivered in every case; marked accepted only when the beep was handled.
    QCOMPARE(m_receiver.accepted, plays);
    endBeep();

    startRecording();
    g_now += 120;
    beep();
    QCOMPARE(askedBeepSwitch(), !movesDebounce);
}

void tst_MEventFilter::dropped_data()
{
    QTest::addColumn<bool>("beepSwitch");
    QTest::addColumn<bool>("audioReady");

    QTest::newRow("beep switched off") << false << true;
    QTest::newRow("audio not ready") << true << false;
    QTest::newRow("off and not ready") << false << false;
}

void tst_MEventFilter::dropped()
{
    QFETCH(bool, beepSwitch);
    QFETCH(bool, audioReady);
    // A volume the sound was not made for: a read of it would replace the sound.
    useSettings(beepSwitch, 25);
    HostPlatform::setAudioReady(audioReady);
    QSound *before = currentSound();
    startRecording();

    beep();

    QVERIFY(askedBeepSwitch());
    // With the beep off the audio system is not even asked.
    QCOMPARE(journalHas(QStringLiteral("AppData::AudioInitOK()")), beepSwitch);
    QVERIFY(!journalHas(QStringLiteral("DataSaveControl::readSettingData(%1, ").arg(SetupStrIdConst::setupAlterVolume)));
    QCOMPARE(currentSound(), before);
    QVERIFY(g_debugLines.isEmpty());
    QVERIFY(currentSound()->isFinished());
    QVERIFY(m_receiver.accepted);
}

void tst_MEventFilter::volumeTable_data()
{
    QTest::addColumn<int>("volume");
    QTest::addColumn<QString>("file");

    QTest::newRow("-3") << -3 << "1.wav";
    QTest::newRow("10") << 10 << "1.wav";
    QTest::newRow("11") << 11 << "2.wav";
    QTest::newRow("15") << 15 << "2.wav";
    QTest::newRow("16") << 16 << "3.wav";
    QTest::newRow("20") << 20 << "3.wav";
    QTest::newRow("21") << 21 << "4.wav";
    QTest::newRow("30") << 30 << "4.wav";
    QTest::newRow("31") << 31 << "5.wav";
}

void tst_MEventFilter::volumeTable()
{
    QFETCH(int, volume);
    QFETCH(QString, file);

    // Start from a volume no row uses, so that every row is a change.
    useSettings(true, 1000);
    beep();
    endBeep();
    QSound *before = currentSound();

    useSettings(true, volume);
    startRecording();
    g_now += 121;
    beep();

    QVERIFY(currentSound() != before);
    QCOMPARE(currentSound()->fileName(), m_soundDir + file);
    QCOMPARE(g_debugLines, QStringList{QStringLiteral("==================>>>>vol %1").arg(volume)});
}

void tst_MEventFilter::playingBeepIsNotRestarted()
{
    useSettings(true, 12);
    beep();
    QSound *playing = currentSound();
    QCOMPARE(playing->fileName(), m_soundDir + QLatin1String("2.wav"));
    if (playing->isFinished())
        QSKIP("the sound library ended the beep at once, so there is no playing beep to protect");

    // Nothing is read, so the new volume cannot replace the playing sound.
    useSettings(true, 40);
    startRecording();
    m_filter->playSound();
    g_now += 121;
    beep();

    QVERIFY(HostJournal::lines().isEmpty());
    QCOMPARE(currentSound(), playing);
    QVERIFY(g_debugLines.isEmpty());
    QVERIFY(m_receiver.accepted);
}

void tst_MEventFilter::playSoundThroughMetaObject()
{
    // No debounce on the slot: the same instant as the key press.
    beep();
    endBeep();
    useSettings(true, 17);
    startRecording();

    const QMetaObject *meta = m_filter->metaObject();
    QVERIFY(meta->method(meta->methodOffset() + 1).invoke(m_filter, Qt::DirectConnection));

    QVERIFY(askedBeepSwitch());
    QVERIFY(journalHas(QStringLiteral("AppData::AudioInitOK()")));
    QCOMPARE(currentSound()->fileName(), m_soundDir + QLatin1String("3.wav"));
    QCOMPARE(g_debugLines, QStringList{QStringLiteral("==================>>>>vol 17")});
}

void tst_MEventFilter::deleteInstance()
{
    QPointer<MEventFilter> filter = m_filter;
    QPointer<QSound> sound = currentSound();

    MEventFilter::DeleteInstance();
    QVERIFY(!filter);
    QVERIFY(!sound);
    MEventFilter::DeleteInstance();

    m_filter = MEventFilter::GetInstance();
    QVERIFY(m_filter);
    QCOMPARE(currentSound()->fileName(), m_soundDir + QLatin1String("1.wav"));
    MEventFilter::DeleteInstance();
}

QTEST_MAIN(tst_MEventFilter)
#include "tst_meventfilter.moc"

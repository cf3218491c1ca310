#include <QtTest>

#include "childprogram.h"
#include "launcherprocess.h"

#include <beeps.h>
#include <soundserver.h>

#include <QTemporaryDir>

#include <sched.h>
#include <sys/mount.h>
#include <time.h>
#include <unistd.h>

// What the launcher process plays when the MCU's keys reach the host platform,
// as heard on a sound server of the test's own: which presses beep, and which
// of the build's sound files (told apart by pitch) is heard.

namespace {

// One key frame: milliseconds after the previous one, the volume saved just
// before it (the beep switch is on; switched off is the beep filter test's),
// the key's state (0 is the key going up), and the sound file heard for it,
// 0 for silence.
struct Press {
    int afterMs;
    int volume;
    int state;
    int heard;
};
using Presses = QList<Press>;

double monotonicNow()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

} // namespace

Q_DECLARE_METATYPE(Presses)

class tst_BeepHeard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void heard_data();
    void heard();

private:
    void saveSettings(int volume);
    // The sound file whose pitch is nearest, 1 to 5.
    int fileOf(double frequency) const;

    QTemporaryDir m_dir;
    SoundServer m_server;
    double m_pitch[5] = {};
    const QString m_soundDir = QStringLiteral(HEADUNIT_SOUND_DIR);
};

void tst_BeepHeard::initTestCase()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0) && QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    // Its sound effect ends the stream as soon as the last bytes are handed
    // over, before the server has played them: most beeps of 50 ms are lost.
    QSKIP("Qt 6.4 loses short sounds (see the warning at configure time)");
#endif
    QVERIFY(m_dir.isValid());
    for (int i = 0; i < 5; ++i) {
        const std::vector<int16_t> tone = Beeps::readWav(qPrintable(m_soundDir + QString::number(i + 1) + ".wav"));
        m_pitch[i] = Beeps::frequency(tone.data(), tone.size(), SoundServer::Rate);
        QVERIFY2(m_pitch[i] > 0, "the build's sound files are missing");
        for (int j = 0; j < i; ++j)
            QVERIFY2(qAbs(m_pitch[i] - m_pitch[j]) > 100, "two sound files have the same pitch");
    }
    // Short: the server's socket path must fit a sockaddr_un.
    if (!m_server.start(QDir(m_dir.path()).canonicalPath().toStdString()))
        QSKIP(qPrintable(QStringLiteral("no sound server of our own: %1").arg(QString::fromStdString(m_server.error()))));
}

void tst_BeepHeard::saveSettings(int volume)
{
    // Renamed into place, so that the launcher never reads half a file.
    const QString path = m_dir.filePath(QStringLiteral("settings.ini"));
    QFile file(path + QStringLiteral(".new"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[setup]\nsysBeep=true\nalterVolume=%1\n").arg(volume).toLatin1());
    file.close();
    QVERIFY(::rename(qPrintable(file.fileName()), qPrintable(path)) == 0);
}

int tst_BeepHeard::fileOf(double frequency) const
{
    int nearest = 0;
    for (int i = 1; i < 5; ++i)
        if (qAbs(m_pitch[i] - frequency) < qAbs(m_pitch[nearest] - frequency))
            nearest = i;
    return nearest + 1;
}

void tst_BeepHeard::heard_data()
{
    QTest::addColumn<Presses>("presses");
    QTest::addColumn<int>("brokenFile"); // replaced by bytes that are no sound

    // The press 30 ms after a beep falls inside the debounce; a key going up
    // asks for no beep.
    QTest::newRow("debounce and key up") << Presses{{0, 5, 1, 1}, {250, 5, 1, 1}, {30, 5, 1, 0},
                                                    {250, 5, 0, 0}, {250, 5, 1, 1}} << 0;
    QTest::newRow("volume picks the file") << Presses{{0, 5, 1, 1}, {300, 12, 1, 2}, {300, 18, 1, 3},
                                                      {300, 25, 1, 4}, {300, 40, 1, 5}} << 0;
    QTest::newRow("unreadable sound file") << Presses{{0, 18, 1, 0}, {300, 5, 1, 1}} << 3;
}

void tst_BeepHeard::heard()
{
    QFETCH(Presses, presses);
    QFETCH(int, brokenFile);

    if (brokenFile) {
        // Over the build's file, seen only by this process and its children.
        const QString garbage = m_dir.filePath(QStringLiteral("garbage.wav"));
        QFile file(garbage);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4000, 'x'));
        file.close();
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            QSKIP("replacing a sound file needs a mount namespace of our own (root)");
        QVERIFY(::mount(qPrintable(garbage), qPrintable(m_soundDir + QString::number(brokenFile) + ".wav"), nullptr, MS_BIND, nullptr) == 0);
    }
    auto unmount = qScopeGuard([&] {
        if (brokenFile)
            ::umount2(qPrintable(m_soundDir + QString::number(brokenFile) + ".wav"), MNT_DETACH);
    });

    unixpeer::Names names("beep");
    unixpeer::Listener mcu(names.serviceName);
    QVERIFY(mcu.isListening());
    saveSettings(presses.first().volume);
    QProcessEnvironment env = launcherEnvironment(m_dir.path(), names);
    env.insert(QStringLiteral("PULSE_SERVER"), QString::fromStdString(m_server.address()));
    ChildProgram launcher;
    QVERIFY2(launcher.start(QStringLiteral(LAUNCHER_E2E_PATH), {}, env), qPrintable(launcher.errorString()));
    const int fd = acceptReady(mcu, 10000);
    QVERIFY(fd >= 0);
    auto closeLink = qScopeGuard([fd] { ::close(fd); });

    const size_t from = m_server.samples().size();
    QVector<double> sent;
    for (const Press &press : presses) {
        QTest::qWait(press.afterMs);
        saveSettings(press.volume);
        sent << monotonicNow();
        QVERIFY(unixpeer::writeFull(fd, McuTestFrames::normal(13078, 7, press.state).constData(), 16));
    }
    QTest::qWait(500);
    const std::vector<int16_t> all = m_server.samples();
    const std::vector<Beeps::Beep> beeps = Beeps::find(std::vector<int16_t>(all.begin() + from, all.end()), SoundServer::Rate);
    QVERIFY2(!launcher.waitForExit(0), "the launcher ended");

    // Each beep heard belongs to the last press before it that should be
    // heard; silent presses must leave no beep of their own.
    QVector<int> heard;
    for (const Press &press : presses)
        if (press.heard)
            heard << press.heard;
    QStringList found;
    for (const Beeps::Beep &beep : beeps)
        found << QStringLiteral("%1 Hz at %2 s").arg(beep.frequency, 0, 'f', 0).arg(m_server.timeOf(from + beep.onset) - sent.first(), 0, 'f', 3);
    QVERIFY2(int(beeps.size()) == heard.size(), qPrintable(found.join(QStringLiteral(", "))));
    int next = 0;
    for (int i = 0; i < presses.size(); ++i) {
        if (!presses[i].heard)
            continue;
        const Beeps::Beep &beep = beeps[size_t(next++)];
        const double onset = m_server.timeOf(from + beep.onset);
        double until = 1e300;
        for (int j = i + 1; j < presses.size(); ++j)
            if (presses[j].heard) {
                until = sent[j];
                break;
            }
        QVERIFY2(onset >= sent[i] - 0.005 && onset < until, qPrintable(QStringLiteral("press %1: %2").arg(i).arg(found.join(", "))));
        QCOMPARE(fileOf(beep.frequency), presses[i].heard);
    }
}

QTEST_GUILESS_MAIN(tst_BeepHeard)
#include "tst_beepheard.moc"

#include "meventfilter.h"

#include "appdata.h"
#include "datadefault.h"
#include "datasavecontrol.h"
#include "setupstridconst.h"

#include <checkedclock.h>

#include <QDebug>
#include <QKeyEvent>
#include <QSoundEffect>
#include <QUrl>
#include <QVariant>

#ifndef HEADUNIT_SOUND_DIR
#error "HEADUNIT_SOUND_DIR must name the directory of the beep sounds, with a trailing slash"
#endif

namespace {

// From the 64-bit clock: a Qt built with 32-bit time (Debian 12's armhf one)
// reads the same 1970 instant on every call from 2038 on, and would then let
// one beep through and debounce every later one away. Should the wall clock
// fail, the monotonic one still spaces the presses.
qint64 currentMSecs()
{
    int64_t ms = 0;
    if (!clockMs(CLOCK_REALTIME, &ms))
        clockMs(CLOCK_MONOTONIC, &ms);
    return ms;
}

// Five files cover the whole range of levels; compared signed, so a negative
// level gets the first one.
QString soundFile(int volume)
{
    const char *name = volume <= 10   ? "1.wav"
                       : volume <= 15 ? "2.wav"
                       : volume <= 20 ? "3.wav"
                       : volume <= 30 ? "4.wav"
                                      : "5.wav";
    return QStringLiteral(HEADUNIT_SOUND_DIR) + QLatin1String(name);
}

// What Qt 5's QSound made of a file name, on either Qt major.
QSoundEffect *newSound(const QString &file, QObject *parent)
{
    QSoundEffect *sound = new QSoundEffect(parent);
    sound->setSource(QUrl::fromLocalFile(file));
    return sound;
}

} // namespace

MEventFilter *MEventFilter::pInst = nullptr;

MEventFilter *MEventFilter::GetInstance()
{
    if (!pInst)
        pInst = new MEventFilter(nullptr);
    return pInst;
}

void MEventFilter::DeleteInstance()
{
    delete pInst;
    pInst = nullptr;
}

// The first sound object connects to the sound server and loads a file, which
// takes milliseconds the start must not wait for: it is made at the event
// loop's first turn, after the MCU has heard "ready", or by an earlier beep.
MEventFilter::MEventFilter(QObject *parent)
    : QObject(parent)
    , m_sound(nullptr)
{
    QMetaObject::invokeMethod(this, &MEventFilter::makeFirstSound, Qt::QueuedConnection);
}

void MEventFilter::makeFirstSound()
{
    if (!m_sound)
        m_sound = newSound(QStringLiteral(HEADUNIT_SOUND_DIR "1.wav"), this);
}

bool MEventFilter::eventFilter(QObject *watched, QEvent *event)
{
    Q_UNUSED(watched)

    // Last key press that got past the debounce, of any key.
    static qint64 s_beeptime = 0;

    if (event->type() != QEvent::KeyPress)
        return false;

    // Unsigned, so that a clock set back counts as a long time and the key
    // press is not swallowed until the clock catches up again.
    const qint64 now = currentMSecs();
    if (static_cast<quint64>(now) - static_cast<quint64>(s_beeptime) < 121)
        return false;

    const QKeyEvent *keyEvent = static_cast<QKeyEvent *>(event);
    if (keyEvent->key() == Qt::Key_Meta && keyEvent->text() == QLatin1String("beep")) {
        event->accept();
        playSound();
    }
    s_beeptime = now;
    return false;
}

void MEventFilter::playSound()
{
    // The volume m_sound was made for; -1 so the first beep loads its file.
    static int s_vol_beep = -1;

    makeFirstSound();
    // A beep that is still playing is never cut off and restarted.
    if (m_sound->isPlaying())
        return;

    const bool defaultBeep = DataDefault::getDefault(SetupStrIdConst::setupSysBeep).toBool();
    if (!DataSaveControl::readSettingData(SetupStrIdConst::setupSysBeep, QVariant(defaultBeep),
                                          QString())
             .toBool())
        return;

    // No application state means no audio system to speak of either.
    AppData *appData = AppData::GetInstance();
    if (!appData || !appData->AudioInitOK())
        return;

    const int defaultVolume = DataDefault::getDefault(SetupStrIdConst::setupAlterVolume).toInt();
    const int volume = DataSaveControl::readSettingData(SetupStrIdConst::setupAlterVolume,
                                                        QVariant(defaultVolume), QString())
                           .toInt();

    // A file is loaded only when the volume has changed since the last beep,
    // and only when the new volume has another file: a sound of the same file
    // would be the same sound, and Qt 6's sample cache can deadlock this
    // thread against its loader when a file is asked for again while its
    // load is finishing (the first beep after the start, say, on 1.wav).
    if (volume != s_vol_beep) {
        s_vol_beep = volume;
        const QString file = soundFile(volume);
        if (m_sound->source() != QUrl::fromLocalFile(file)) {
            m_sound->deleteLater();
            m_sound = newSound(file, this);
        }
        qDebug() << "==================>>>>vol" << volume;
    }
    m_sound->play();
}

#ifndef MEVENTFILTER_H
#define MEVENTFILTER_H

#include "launcherexport.h"

#include <QObject>

class QEvent;
class QSound;

// Key and touch feedback. Installed on the application, it sees every event
// and turns beep requests (a key press with Qt::Key_Meta and the text "beep")
// into a sound chosen by the saved volume. It never stops an event.
//
// Exported with its virtual table: the platform's libraries in this process
// reach the instance, its slot and its signal through GetInstance().
// Everything here belongs to the main thread, where the events are delivered.
class LAUNCHER_EXPORT MEventFilter : public QObject
{
    Q_OBJECT

public:
    static MEventFilter *GetInstance();
    LAUNCHER_HIDDEN static void DeleteInstance();

    LAUNCHER_HIDDEN explicit MEventFilter(QObject *parent);

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    // Neither emitted nor connected by the launcher; other components of the
    // process use it.
    void mcuPlayBeepSig();

public slots:
    void playSound();

private:
    LAUNCHER_HIDDEN void makeFirstSound();

    // Null until the first sound is made; replaced only when the volume changes.
    QSound *m_sound;

    LAUNCHER_HIDDEN static MEventFilter *pInst;
};

#endif // MEVENTFILTER_H

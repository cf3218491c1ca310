#ifndef FIRSTFRAMEMONITOR_H
#define FIRSTFRAMEMONITOR_H

#include <QObject>

// Tells when the first frame is on the screen. procFlushDone() may be emitted
// from within preCheck() when the frame is already shown, or later, from any
// thread.
class FirstFrameMonitor : public QObject
{
    Q_OBJECT

public:
    // Counted: every getInstance() is balanced by one releaseInstance().
    static FirstFrameMonitor *getInstance();
    static void releaseInstance();

    void preCheck();

Q_SIGNALS:
    void procFlushDone();

private:
    FirstFrameMonitor();
    ~FirstFrameMonitor() override;
};

#endif // FIRSTFRAMEMONITOR_H

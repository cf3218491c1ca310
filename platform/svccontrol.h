#ifndef SVCCONTROL_H
#define SVCCONTROL_H

#include <QObject>

// Executor of the system services' start stages.
//
// exeStage(stage, false) returns at once and emits stageReady(stage) once the
// stage is done; exeStage(stage, true) has done its work when it returns.
// stop() is followed by finished(). The signals may come from another thread.
class SvcControl : public QObject
{
    Q_OBJECT

public:
    // A fixed type: the executor may report stages the launcher does not know.
    enum ExeStage : int {
        ExeStageFirst = 0,
        ExeStageSecond = 1,
    };
    Q_ENUM(ExeStage)

    explicit SvcControl(QObject *parent = nullptr);
    ~SvcControl() override;

    void exeStage(SvcControl::ExeStage stage, bool blocking);
    void stop(bool flag);

Q_SIGNALS:
    void stageReady(SvcControl::ExeStage stage);
    void finished();

private:
    class Private;
    Private *d;
};

#endif // SVCCONTROL_H

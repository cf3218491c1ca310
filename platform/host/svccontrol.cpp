#include <svccontrol.h>

#include "journal.h"
#include "signaldelivery_p.h"

using HostJournal::arg;
using HostJournal::record;

class SvcControl::Private
{
public:
    explicit Private(SvcControl *q)
        : delivery(q)
    {
    }

    SignalDelivery delivery;
};

SvcControl::SvcControl(QObject *parent)
    : QObject(parent)
    , d(new Private(this))
{
    record(QStringLiteral("SvcControl created"));
}

SvcControl::~SvcControl()
{
    delete d;
    record(QStringLiteral("SvcControl destroyed"));
}

void SvcControl::exeStage(SvcControl::ExeStage stage, bool blocking)
{
    record(QStringLiteral("SvcControl::exeStage(%1, %2)").arg(int(stage)).arg(arg(blocking)));
    // A blocking run has done its work when it returns; nobody waits for a signal.
    if (blocking)
        return;
    d->delivery.later([this, stage] {
        record(QStringLiteral("SvcControl emits stageReady(%1)").arg(int(stage)));
        emit stageReady(stage);
    });
}

void SvcControl::stop(bool flag)
{
    record(QStringLiteral("SvcControl::stop(%1)").arg(arg(flag)));
    d->delivery.later([this] {
        record(QStringLiteral("SvcControl emits finished()"));
        emit finished();
    });
}

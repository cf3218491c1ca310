#include <basecontrol.h>

#include "hoststate_p.h"
#include "journal.h"
#include "mainthread_p.h"

#include <mutex>

using HostJournal::arg;
using HostJournal::hex;
using HostJournal::record;

BaseControl::BaseControl() = default;

BaseControl *BaseControl::getInstance()
{
    static BaseControl instance;
    return &instance;
}

void BaseControl::changeMediaSrcSlot(int from, int to)
{
    record(QStringLiteral("BaseControl::changeMediaSrcSlot(%1, %2)").arg(from).arg(to));
}

// The board's UI answers a key going down with a beep request, delivered to
// an object of the application and so seen by its event filters. The call
// comes from the MCU reader thread; the filter gets the request on the main
// thread, and none once the event loop was left. State 0 is the key going up.
void BaseControl::sendMcuKeyPressedSignal(int key, int state)
{
    record(QStringLiteral("BaseControl::sendMcuKeyPressedSignal(%1, %2)").arg(key).arg(state));
    if (state != 0)
        HostMainThread::requestBeep();
}

void BaseControl::ejectSlot()
{
    record(QStringLiteral("BaseControl::ejectSlot()"));
}

QString BaseControl::getDateVersion()
{
    QString version;
    {
        const std::lock_guard<std::mutex> lock(hostState().mutex);
        version = hostState().dateVersion;
    }
    record(QStringLiteral("BaseControl::getDateVersion() = %1").arg(arg(version)));
    return version;
}

void BaseControl::RecevieMsgFromMcu(tag_MCUSRV_TO_MAIN_APP_T frame)
{
    keepRecord(&frame, sizeof frame);
    record(QStringLiteral("BaseControl::RecevieMsgFromMcu(%1)").arg(describeRecord(frame)));
}

void BaseControl::RecevieSIMMsgFromMcu(tag_MCUSRV_TO_MAIN_APP_T frame)
{
    keepRecord(&frame, sizeof frame);
    record(QStringLiteral("BaseControl::RecevieSIMMsgFromMcu(%1)").arg(describeRecord(frame)));
}

void BaseControl::RecevieMCMMsgFromMcu(tag_MCUSRV_TO_MAIN_APP_T frame)
{
    keepRecord(&frame, sizeof frame);
    record(QStringLiteral("BaseControl::RecevieMCMMsgFromMcu(%1)").arg(describeRecord(frame)));
}

void BaseControl::ReceiveKeyStudyMsgFromMcu(MCU_STEER_KEY_STUDY_DATA data)
{
    keepRecord(&data, sizeof data);
    record(QStringLiteral("BaseControl::ReceiveKeyStudyMsgFromMcu(%1 %2 %3 %4 %5 %6; %7 %8 %9 %10 %11 %12)")
               .arg(data.byte1).arg(data.byte2).arg(data.byte3).arg(data.byte4).arg(data.byte5).arg(data.byte6)
               .arg(data.value1).arg(data.value2).arg(data.value3).arg(data.value4).arg(data.value5).arg(data.value6));
}

void BaseControl::RecevieAutoTestFromMcu(int item, unsigned char *data)
{
    // The dispatcher hands a pointer into a whole inbound record: data[0] and
    // the bytes after it up to the record's end are readable.
    enum { Shown = 8 };
    record(QStringLiteral("BaseControl::RecevieAutoTestFromMcu(%1, %2)").arg(item).arg(data ? hex(data, Shown) : QStringLiteral("null")));
}

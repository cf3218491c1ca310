// Outbound commands of the MCU link. Any thread may call them: the platform's
// libraries, the start sequence and the reader thread (replies). Every frame is
// built on the caller's stack, so concurrent commands never write into one
// another's frame; the transport's send lock only serialises the bytes.

#include "mainappprotocolcomm.h"

#include <mcumessages.h>

#include <appdata.h>
#include <basecontrol.h>

#include <QtEndian>

#include <cstdio>
#include <cstring>

namespace tqappframework {

namespace {

enum {
    LongCountMax = 255, // the receiver's payload length is a byte
    SourceIdMax = 0xFFFE,
};

MCU_NORMAL_MSG_T normalFrame(uint32_t msg, uint32_t p1, uint32_t p2)
{
    MCU_NORMAL_MSG_T frame;
    std::memset(&frame, 0, sizeof frame);
    frame.kind = MCU_FRAME_NORMAL;
    frame.msg = msg;
    frame.p1 = p1;
    frame.p2 = p2;
    return frame;
}

MCU_NORMAL_MSG_T commandFrame(uint32_t command, uint32_t argument)
{
    return normalFrame(MSG_A2M_CMD, command, argument);
}

// The upper half carries the low 16 bits of arg; shifted unsigned so that a
// negative arg is well defined.
uint32_t sourceArgument(int id, int arg)
{
    return (static_cast<uint32_t>(arg) << 16) | (static_cast<uint32_t>(id) & 0xFFFFu);
}

} // namespace

int MainAppProtocolComm::sendLongData(uint32_t kind, uint32_t msg, const unsigned char *data,
                                      int count)
{
    if (!data || count < 1 || count > LongCountMax)
        return -1;
    MAIN_APP_TO_MCUSRV_T frame;
    std::memset(&frame, 0, sizeof frame);
    frame.kind = kind;
    frame.msg = msg;
    std::memcpy(frame.data, data, static_cast<size_t>(count));
    return SendData(&frame, sizeof frame);
}

int MainAppProtocolComm::EjectDisc()
{
    MCU_NORMAL_MSG_T frame = commandFrame(A2M_CMD_EJECT_DISC, 0);
    return SendData(&frame, sizeof frame);
}

int MainAppProtocolComm::AppReady()
{
    MCU_NORMAL_MSG_T frame = commandFrame(A2M_CMD_APP_READY, A2M_APP_READY_STATE);
    // A restarted MCU service must learn again that the application is ready:
    // every later connection starts with this frame.
    return m_transport.sendGreeting(&frame, sizeof frame);
}

int MainAppProtocolComm::SendCurSrcToMcu(int id, int arg)
{
    if (id > SourceIdMax)
        return -1;
    printf("current src id:%d\n", id);
    fflush(stdout);

    // The state is recorded before the frame goes out and stays recorded when
    // the send fails: the platform's view of the source does not depend on
    // the MCU hearing about it.
    if (AppData *appData = AppData::GetInstance()) {
        appData->setLastSource(appData->curSource());
        appData->setCurSource(id);
        if (appData->isAudioSource(id)) {
            appData->setIsFirstRun(true);
            if (appData->isDirectSwitchAudioSrc(id)) {
                BaseControl::getInstance()->changeMediaSrcSlot(appData->curAudioSource(), id);
                if (id != appData->curAudioSource())
                    appData->setLastAudioSource(appData->curAudioSource());
                appData->setCurAudioSource(id);
            }
        }
    }

    MCU_NORMAL_MSG_T frame = commandFrame(A2M_CMD_CUR_SOURCE, sourceArgument(id, arg));
    return SendData(&frame, sizeof frame);
}

int MainAppProtocolComm::onlySendCurSrcToMcu(int id, int arg)
{
    if (id > SourceIdMax)
        return -1;
    printf("current src id2:%d\n", id);
    fflush(stdout);
    MCU_NORMAL_MSG_T frame = commandFrame(A2M_CMD_CUR_SOURCE, sourceArgument(id, arg));
    return SendData(&frame, sizeof frame);
}

int MainAppProtocolComm::SendDataToMcu(unsigned int msg, unsigned int p1, unsigned int p2)
{
    MCU_NORMAL_MSG_T frame = normalFrame(msg, p1, p2);
    return SendData(&frame, sizeof frame);
}

int MainAppProtocolComm::SendHeartbeattoMCU()
{
    MCU_NORMAL_MSG_T frame = commandFrame(A2M_CMD_HEARTBEAT, 0);
    return SendData(&frame, sizeof frame);
}

int MainAppProtocolComm::SendKeyStudyCmdToMcu(STEER_KEY_STUDY_CMD_TYPE type, unsigned char value)
{
    switch (type) {
    case STEER_KEY_STUDY_CMD_NORMAL: {
        MCU_NORMAL_MSG_T frame = commandFrame(A2M_CMD_KEY_STUDY, value);
        return SendData(&frame, sizeof frame);
    }
    case STEER_KEY_STUDY_CMD_LONG: {
        const unsigned char payload[] = {static_cast<unsigned char>(type), value};
        return sendLongData(MCU_FRAME_LONG, MSG_A2M_KEY_STUDY, payload, sizeof payload);
    }
    }
    return -1;
}

int MainAppProtocolComm::SendTimeClockToMcu(unsigned char msg, unsigned int time)
{
    // The frame always carries MSG_A2M_TIME_CLOCK, whatever id the caller names.
    (void)msg;
    unsigned char payload[5] = {A2M_TIME_CLOCK_LEAD};
    qToBigEndian<quint32>(time, payload + 1);
    return sendLongData(MCU_FRAME_LONG, MSG_A2M_TIME_CLOCK, payload, sizeof payload);
}

int MainAppProtocolComm::SendMediaPlayInfoToMcu(unsigned char *data, int count)
{
    return sendLongData(MCU_FRAME_LONG, MSG_A2M_MEDIA_PLAY_INFO, data, count);
}

int MainAppProtocolComm::SendKeyColorToMcu(unsigned int first, unsigned int second,
                                           unsigned int third)
{
    const unsigned char payload[] = {
        A2M_KEY_COLOR_LEAD0,
        A2M_KEY_COLOR_LEAD1,
        static_cast<unsigned char>(first),
        static_cast<unsigned char>(second),
        static_cast<unsigned char>(third),
    };
    return sendLongData(MCU_FRAME_LONG, MSG_A2M_KEY_COLOR, payload, sizeof payload);
}

int MainAppProtocolComm::SendLongDataToMcu(unsigned int msg, unsigned char *data, int count)
{
    return sendLongData(MCU_FRAME_LONG, msg, data, count);
}

int MainAppProtocolComm::SendLongDataToCAN(unsigned int msg, unsigned char *data, int count)
{
    return sendLongData(MCU_FRAME_CAN, msg, data, count);
}

int MainAppProtocolComm::SendBeatHeartOnOff(unsigned char on)
{
    const unsigned char payload[] = {A2M_HEARTBEAT_ONOFF_LEAD0, A2M_HEARTBEAT_ONOFF_LEAD1, on};
    return sendLongData(MCU_FRAME_LONG, MSG_A2M_HEARTBEAT_ONOFF, payload, sizeof payload);
}

// Source changes reported by the MCU are the platform's to act on; the link
// keeps the operation for the callers that name it.
void MainAppProtocolComm::HandleMCUSourceMsg(unsigned int)
{
}

} // namespace tqappframework

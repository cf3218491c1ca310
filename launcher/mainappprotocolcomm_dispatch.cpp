// Inbound dispatch of the MCU link. Everything here runs on the link's reader
// thread, one frame at a time; a slow handler holds back every later frame.

#include "mainappprotocolcomm.h"

#include <mcumessages.h>

#include <activitymanager.h>
#include <appdata.h>
#include <basecontrol.h>
#include <platformcontrol.h>

#include <QtEndian>
#include <QByteArray>
#include <QDebug>
#include <QString>

#include <cstdio>
#include <cstring>

namespace tqappframework {

namespace {

enum {
    // Version texts as the MCU's report holds them, terminating NUL included.
    PlatformVersionBufSize = 40,
    DateVersionBufSize = 20,
    DateVersionSent = 13,
    McuVersionTextOffset = 13,
};

int32_t bigEndian16At(const unsigned char *frame, int offset)
{
    return (int32_t(frame[offset]) << 8) | int32_t(frame[offset + 1]);
}

tag_MCUSRV_TO_MAIN_APP_T wholeRecord(const unsigned char *frame)
{
    tag_MCUSRV_TO_MAIN_APP_T record;
    std::memcpy(&record, frame, sizeof record);
    return record;
}

// Low 16 bits as a signed number, without relying on narrowing conversions.
short signedLow16(uint32_t value)
{
    const int low = int(value & 0xFFFFu);
    return short(low >= 0x8000 ? low - 0x10000 : low);
}

// A text of at most size - 1 bytes, NUL-terminated, in a zeroed buffer. Longer
// texts are cut: the MCU's report has no room for them. Returns the bytes kept.
int copyVersion(const QString &text, char *buffer, int size)
{
    std::memset(buffer, 0, size_t(size));
    const QByteArray bytes = text.toLocal8Bit();
    std::memcpy(buffer, bytes.constData(), size_t(qMin(bytes.size(), size - 1)));
    return int(strnlen(buffer, size_t(size - 1)));
}

} // namespace

void MainAppProtocolComm::resolvePacket(unsigned char *frame)
{
    switch (qFromUnaligned<quint32>(frame)) {
    case MCU_FRAME_NORMAL: {
        MCU_NORMAL_MSG_T msg;
        std::memcpy(&msg, frame, sizeof msg);
        printf("Main app normal msg:%u, p1:%u, p2:%u.\n", msg.msg, msg.p1, msg.p2);
        fflush(stdout);
        resolveNormalMsg(msg);
        break;
    }
    case MCU_FRAME_LONG:
        resolveLongMsg(frame);
        break;
    case MCU_FRAME_CAN:
        ActivityManager::self()->handleMcuFrame(wholeRecord(frame));
        break;
    default:
        break;
    }
}

void MainAppProtocolComm::resolveNormalMsg(const MCU_NORMAL_MSG_T &msg)
{
    switch (msg.msg) {
    case MSG_M2A_CMD:
        if (msg.p1 == M2A_CMD_ACTIVITY) {
            // The MCU waits for the acknowledgement, not for the activity.
            SendDataToMcu(MSG_A2M_CMD, A2M_CMD_ACTIVITY_REPLY, 0);
            ActivityManager::self()->handleMcuCommand(int(msg.p2));
        } else if (msg.p1 == M2A_CMD_EJECT) {
            BaseControl::getInstance()->ejectSlot();
        }
        break;
    case MSG_M2A_KEY_PRESSED:
        BaseControl::getInstance()->sendMcuKeyPressedSignal(int(msg.p1), int(msg.p2));
        break;
    case MSG_M2A_GET_VERSION:
        sendVersionInfo();
        break;
    case MSG_M2A_MCU_TYPE:
        qDebug() << "==========>MSG_M2A_MCU_TYPE:" << msg.p1 << "tuner type: " << msg.p2;
        if (AppData *appData = AppData::GetInstance()) {
            appData->setMcuType(signedLow16(msg.p1));
            appData->setTunerType(signedLow16(msg.p2));
        }
        break;
    case MSG_M2A_UNHANDLED_335A:
    case MSG_M2A_UNHANDLED_7101:
        break;
    default: {
        MCU_NORMAL_MSG_T forwarded;
        std::memset(&forwarded, 0, sizeof forwarded);
        // The receiver gets a complete normal message, not a bare triple.
        forwarded.kind = MCU_FRAME_NORMAL;
        forwarded.msg = msg.msg;
        forwarded.p1 = msg.p1;
        forwarded.p2 = msg.p2;
        ActivityManager::self()->handleMcuNormalMsg(forwarded);
        break;
    }
    }
}

void MainAppProtocolComm::resolveLongMsg(unsigned char *frame)
{
    const int32_t msg = int32_t(qFromUnaligned<quint32>(frame + 4));
    if (msg == MSG_M2A_CONTROL_DATA
        || (msg >= MSG_M2A_CONTROL_DATA_FIRST && msg <= MSG_M2A_CONTROL_DATA_LAST)) {
        BaseControl::getInstance()->RecevieMsgFromMcu(wholeRecord(frame));
        return;
    }

    switch (msg) {
    case MSG_M2A_MCU_TIME:
        handleMcuTime(frame);
        break;
    case MSG_M2A_MCU_VERSION:
        if (PlatformControl *platform = PlatformControl::getInstance()) {
            // A text without a NUL ends with the record.
            const char *text = reinterpret_cast<const char *>(frame + McuVersionTextOffset);
            const size_t room = MCU_FRAME_MAX - McuVersionTextOffset;
            platform->setMcuVersion(QString::fromLatin1(text, int(strnlen(text, room))));
        }
        break;
    case MSG_M2A_KEY_STUDY: {
        MCU_STEER_KEY_STUDY_DATA data;
        std::memset(&data, 0, sizeof data);
        data.byte1 = frame[12];
        data.byte2 = frame[13];
        data.byte3 = frame[14];
        data.byte4 = frame[15];
        data.byte5 = frame[16];
        data.byte6 = frame[17];
        data.value1 = bigEndian16At(frame, 18);
        data.value2 = bigEndian16At(frame, 20);
        data.value3 = bigEndian16At(frame, 22);
        data.value4 = bigEndian16At(frame, 24);
        data.value5 = bigEndian16At(frame, 26);
        data.value6 = bigEndian16At(frame, 28);
        BaseControl::getInstance()->ReceiveKeyStudyMsgFromMcu(data);
        break;
    }
    case MSG_M2A_RDS_TIME:
        handleRdsTime(frame);
        break;
    case MSG_M2A_SIM_DATA:
        BaseControl::getInstance()->RecevieSIMMsgFromMcu(wholeRecord(frame));
        break;
    case MSG_M2A_MCM_DATA:
        BaseControl::getInstance()->RecevieMCMMsgFromMcu(wholeRecord(frame));
        break;
    case MSG_M2A_AUTO_TEST:
        BaseControl::getInstance()->RecevieAutoTestFromMcu(int(frame[13]), frame + 12);
        break;
    case MSG_M2A_UUID: {
        char buffer[16];
        std::memset(buffer, 0, sizeof buffer);
        buffer[0] = char(frame[13]);
        buffer[1] = char(frame[14]);
        QString uuid = QString::fromUtf8(buffer);
        std::memset(buffer, 0, sizeof buffer);
        snprintf(buffer, sizeof buffer, "%014u", qFromBigEndian<quint32>(frame + 17));
        uuid += QString::fromLatin1(buffer);
        qDebug() << "==========>uuid:" << uuid << "len=" << uuid.length();
        if (AppData *appData = AppData::GetInstance())
            appData->setUUID(uuid);
        break;
    }
    default:
        break;
    }
}

void MainAppProtocolComm::sendVersionInfo()
{
    // Without the platform service there are no versions to report; the MCU
    // asks again.
    PlatformControl *platform = PlatformControl::getInstance();
    if (!platform) {
        qDebug("%s no platform service, no version report", __FUNCTION__);
        return;
    }
    const QString customer = platform->getCustomerVer();
    const QString sdk = platform->getSDKVer();
    const QString date = BaseControl::getInstance()->getDateVersion();

    char customerBuf[PlatformVersionBufSize];
    char sdkBuf[PlatformVersionBufSize];
    char dateBuf[DateVersionBufSize];
    const int c = copyVersion(customer, customerBuf, sizeof customerBuf);
    const int s = copyVersion(sdk, sdkBuf, sizeof sdkBuf);
    copyVersion(date, dateBuf, sizeof dateBuf);

    // kind, msg, then: count, c, C, s, S, 13, the first 13 bytes of D. The
    // count is what follows it, so it matches the (possibly cut) texts.
    MAIN_APP_TO_MCUSRV_T frame;
    std::memset(&frame, 0, sizeof frame);
    frame.kind = MCU_FRAME_LONG;
    frame.msg = MSG_A2M_VERSION_INFO;
    unsigned char *out = frame.data;
    *out++ = static_cast<unsigned char>(c + s + 3 + DateVersionSent);
    *out++ = static_cast<unsigned char>(c);
    std::memcpy(out, customerBuf, size_t(c));
    out += c;
    *out++ = static_cast<unsigned char>(s);
    std::memcpy(out, sdkBuf, size_t(s));
    out += s;
    *out++ = DateVersionSent;
    std::memcpy(out, dateBuf, DateVersionSent);
    SendData(&frame, sizeof frame);
}

} // namespace tqappframework

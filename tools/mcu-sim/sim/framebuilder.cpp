#include "framebuilder.h"

#include <mcuframes.h>
#include <mcumessages.h>
#include <mcuwords.h>

#include <algorithm>
#include <cstring>

namespace {




// Payload index of a frame offset.
constexpr size_t at(size_t frameOffset) { return frameOffset - MCU_LONG_HEADER_SIZE; }

} // namespace

FrameBuilder::Bytes FrameBuilder::normal(uint32_t msg, uint32_t p1, uint32_t p2)
{
    Bytes frame(MCU_NORMAL_MSG_SIZE);
    mcuPutWord(&frame[0], MCU_FRAME_NORMAL);
    mcuPutWord(&frame[4], msg);
    mcuPutWord(&frame[8], p1);
    mcuPutWord(&frame[12], p2);
    return frame;
}

FrameBuilder::Bytes FrameBuilder::longFrame(uint32_t kind, uint32_t msg, const Bytes &payload)
{
    const size_t n = std::min<size_t>(payload.size(), MCU_LONG_DATA_MAX);
    Bytes frame(MCU_LONG_HEADER_SIZE + n);
    mcuPutWord(&frame[0], kind);
    mcuPutWord(&frame[4], msg);
    mcuPutWord(&frame[8], uint32_t(frame.size()));
    std::copy(payload.begin(), payload.begin() + n, frame.begin() + MCU_LONG_HEADER_SIZE);
    return frame;
}

FrameBuilder::Bytes FrameBuilder::keyPressed(uint32_t key, uint32_t state)
{
    return normal(MSG_M2A_KEY_PRESSED, key, state);
}

FrameBuilder::Bytes FrameBuilder::eject()
{
    return normal(MSG_M2A_CMD, M2A_CMD_EJECT, 0);
}

FrameBuilder::Bytes FrameBuilder::activity(uint32_t command)
{
    return normal(MSG_M2A_CMD, M2A_CMD_ACTIVITY, command);
}

FrameBuilder::Bytes FrameBuilder::getVersion()
{
    return normal(MSG_M2A_GET_VERSION, 0, 0);
}

FrameBuilder::Bytes FrameBuilder::mcuType(uint32_t mcuType, uint32_t tunerType)
{
    return normal(MSG_M2A_MCU_TYPE, mcuType, tunerType);
}

FrameBuilder::Bytes FrameBuilder::mcuTime(uint32_t seconds)
{
    Bytes payload(at(17));
    mcuPutBigEndian(&payload[at(13)], seconds);
    return longFrame(MCU_FRAME_LONG, MSG_M2A_MCU_TIME, payload);
}

FrameBuilder::Bytes FrameBuilder::rdsTime(unsigned char hour, unsigned char minute)
{
    Bytes payload(at(15));
    payload[at(13)] = hour;
    payload[at(14)] = minute;
    return longFrame(MCU_FRAME_LONG, MSG_M2A_RDS_TIME, payload);
}

FrameBuilder::Bytes FrameBuilder::mcuVersion(const std::string &text)
{
    const size_t n = std::min(text.size(), size_t(MCU_FRAME_MAX - 13 - 1));
    Bytes payload(at(13) + n + 1);
    std::copy(text.begin(), text.begin() + n, payload.begin() + at(13));
    return longFrame(MCU_FRAME_LONG, MSG_M2A_MCU_VERSION, payload);
}

FrameBuilder::Bytes FrameBuilder::uuid(const std::string &prefix, uint32_t number)
{
    Bytes payload(at(21));
    std::copy(prefix.begin(), prefix.begin() + std::min<size_t>(prefix.size(), 2), payload.begin() + at(13));
    mcuPutBigEndian(&payload[at(17)], number);
    return longFrame(MCU_FRAME_LONG, MSG_M2A_UUID, payload);
}

FrameBuilder::Bytes FrameBuilder::keyStudy(const unsigned char bytes[6], const uint16_t values[6])
{
    Bytes payload(at(30));
    std::copy(bytes, bytes + 6, payload.begin());
    for (size_t i = 0; i < 6; ++i) {
        payload[at(18) + 2 * i] = values[i] >> 8;
        payload[at(19) + 2 * i] = values[i] & 0xFF;
    }
    return longFrame(MCU_FRAME_LONG, MSG_M2A_KEY_STUDY, payload);
}

std::string FrameBuilder::summary(const Bytes &frame)
{
    if (frame.size() < MCU_LONG_HEADER_SIZE)
        return "(" + std::to_string(frame.size()) + " bytes)";
    const uint32_t kind = mcuWordAt(&frame[0]);
    if (kind == MCU_FRAME_NORMAL && frame.size() == MCU_NORMAL_MSG_SIZE)
        return "(msg " + std::to_string(mcuWordAt(&frame[4])) + ", p1 " + std::to_string(mcuWordAt(&frame[8])) + ", p2 "
               + std::to_string(mcuWordAt(&frame[12])) + ")";
    return "(kind " + std::to_string(kind) + ", msg " + std::to_string(mcuWordAt(&frame[4])) + ", len "
           + std::to_string(mcuWordAt(&frame[8])) + ")";
}

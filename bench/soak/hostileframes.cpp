#include "hostileframes.h"

#include <mcuframes.h>
#include <mcumessages.h>

#include <algorithm>
#include <cstring>

namespace {

void putWord(std::vector<unsigned char> &out, uint32_t word)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &word, sizeof bytes);
    out.insert(out.end(), bytes, bytes + sizeof bytes);
}

void putBigEndian(unsigned char *at, uint32_t value)
{
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

// Below this the launcher distrusts the MCU's clock and sends its own back.
const uint32_t UntrustedMcuSeconds = 15551999;

} // namespace

HostileFrames::HostileFrames(uint32_t seed, Mix mix)
    : m_rng(seed)
    , m_mix(mix)
{
}

uint32_t HostileFrames::below(uint32_t n)
{
    return std::uniform_int_distribution<uint32_t>(0, n - 1)(m_rng);
}

uint32_t HostileFrames::word()
{
    return uint32_t(m_rng());
}

bool HostileFrames::append(std::vector<unsigned char> &out)
{
    if (m_mix == Mix::Longest) {
        longestFrame(out);
        return false;
    }
    // Broken framing is rare: each costs a reconnection.
    const uint32_t roll = below(1000);
    if (roll < 880) {
        validFrame(out);
    } else if (roll < 999) {
        mutatedFrame(out);
    } else {
        switch (below(4)) {
        case 0:
            badLenFrame(out);
            break;
        case 1:
            damagedHeader(out);
            break;
        case 2:
            // The launcher takes 268 bytes and reads the rest as new frames.
            longFrame(out, MCU_FRAME_LONG, true);
            break;
        default:
            noise(out);
            break;
        }
        return true;
    }
    return false;
}

void HostileFrames::validFrame(std::vector<unsigned char> &out)
{
    const uint32_t roll = below(100);
    if (roll < 45)
        normalFrame(out);
    else if (roll < 85)
        longFrame(out, MCU_FRAME_LONG);
    else
        longFrame(out, MCU_FRAME_CAN);
}

void HostileFrames::normalFrame(std::vector<unsigned char> &out)
{
    uint32_t msg = MSG_M2A_KEY_PRESSED, p1 = below(256), p2 = below(3);
    switch (below(8)) {
    case 0:
    case 1:
        break; // key presses are the most common traffic
    case 2:
        msg = MSG_M2A_GET_VERSION; // answered with a version report
        break;
    case 3:
        msg = MSG_M2A_CMD; // answered with an acknowledgement
        p1 = M2A_CMD_ACTIVITY;
        p2 = word();
        break;
    case 4:
        msg = MSG_M2A_CMD;
        p1 = below(2) ? uint32_t(M2A_CMD_EJECT) : word();
        break;
    case 5:
        msg = MSG_M2A_MCU_TYPE;
        p1 = word();
        p2 = word();
        break;
    case 6:
        msg = below(2) ? uint32_t(MSG_M2A_UNHANDLED_335A) : uint32_t(MSG_M2A_UNHANDLED_7101);
        break;
    default:
        msg = word(); // forwarded to the activity manager
        p1 = word();
        p2 = word();
        break;
    }
    putWord(out, MCU_FRAME_NORMAL);
    putWord(out, msg);
    putWord(out, p1);
    putWord(out, p2);
}

void HostileFrames::longFrame(std::vector<unsigned char> &out, uint32_t kind, bool overlong)
{
    static const int32_t ids[] = {
        MSG_M2A_MCU_TIME, MSG_M2A_MCU_VERSION, MSG_M2A_KEY_STUDY, MSG_M2A_CONTROL_DATA,
        MSG_M2A_CONTROL_DATA_FIRST, MSG_M2A_CONTROL_DATA_LAST, MSG_M2A_RDS_TIME, MSG_M2A_SIM_DATA,
        MSG_M2A_MCM_DATA, MSG_M2A_AUTO_TEST, MSG_M2A_UUID,
    };
    const uint32_t pick = below(sizeof ids / sizeof ids[0] + 1);
    const int32_t msg = pick < sizeof ids / sizeof ids[0] ? ids[pick] : int32_t(word());

    // Payloads of at least 9 bytes, so that every field below is in the frame.
    const size_t size = overlong ? MCU_FRAME_MAX + 1 + below(400)
                                 : MCU_LONG_HEADER_SIZE + 9 + below(MCU_LONG_DATA_MAX - 8);
    std::vector<unsigned char> frame(size);
    for (unsigned char &byte : frame)
        byte = static_cast<unsigned char>(word());
    std::memcpy(&frame[0], &kind, 4);
    std::memcpy(&frame[4], &msg, 4);
    const uint32_t len = uint32_t(size);
    std::memcpy(&frame[8], &len, 4);

    switch (msg) {
    case MSG_M2A_MCU_TIME: // an untrusted clock is answered with the launcher's
        putBigEndian(&frame[13], below(2) ? below(UntrustedMcuSeconds) : word());
        break;
    case MSG_M2A_MCU_VERSION: // printable text, with or without its NUL
        for (size_t i = 13; i < size; ++i)
            frame[i] = static_cast<unsigned char>(' ' + below(95));
        if (below(2))
            frame[13 + below(uint32_t(size - 13))] = 0;
        break;
    case MSG_M2A_RDS_TIME: // valid and invalid times of day, answered when valid
        frame[13] = static_cast<unsigned char>(below(26));
        frame[14] = static_cast<unsigned char>(below(62));
        break;
    default:
        break;
    }
    out.insert(out.end(), frame.begin(), frame.end());
}

// Bits flipped anywhere but in the words that frame the stream (a normal
// frame's kind, a long frame's kind and len).
void HostileFrames::mutatedFrame(std::vector<unsigned char> &out)
{
    const size_t start = out.size();
    validFrame(out);
    const uint32_t size = uint32_t(out.size() - start);
    const bool normal = size == MCU_NORMAL_MSG_SIZE;
    for (uint32_t flips = 1 + below(4); flips > 0; --flips) {
        uint32_t at = 4 + below(size - 4);
        if (!normal && at >= 8 && at < MCU_LONG_HEADER_SIZE)
            at += 4;
        out[start + at] ^= static_cast<unsigned char>(1u << below(8));
    }
}

void HostileFrames::damagedHeader(std::vector<unsigned char> &out)
{
    const size_t start = out.size();
    validFrame(out);
    const bool normal = out.size() - start == MCU_NORMAL_MSG_SIZE;
    // The kind word, or a long frame's len word.
    const uint32_t at = (normal || below(2) ? 0 : 8) + below(4);
    out[start + at] ^= static_cast<unsigned char>(1u << below(8));
}

void HostileFrames::badLenFrame(std::vector<unsigned char> &out)
{
    uint32_t len;
    switch (below(4)) {
    case 0:
        len = 0;
        break;
    case 1:
        len = 0x80000000u | word(); // negative to the peer
        break;
    case 2:
        len = MCU_RECV_BUF_SIZE + 1 + below(1u << 20); // never completes within the buffer
        break;
    default:
        len = word() | 0x7FFF0000u;
        break;
    }
    putWord(out, below(2) ? uint32_t(MCU_FRAME_LONG) : uint32_t(MCU_FRAME_CAN));
    putWord(out, word());
    putWord(out, len);
    for (uint32_t n = below(64); n > 0; --n)
        out.push_back(static_cast<unsigned char>(word()));
}

void HostileFrames::noise(std::vector<unsigned char> &out)
{
    for (uint32_t n = 1 + below(64); n > 0; --n)
        out.push_back(static_cast<unsigned char>(word()));
}

// A CAN frame with the widest message number and a full record of non-zero
// data: the host platform journals it as one line of 583 characters.
void HostileFrames::longestFrame(std::vector<unsigned char> &out)
{
    putWord(out, MCU_FRAME_CAN);
    putWord(out, 0xFFFFFFF0u | below(16));
    putWord(out, MCU_FRAME_MAX);
    for (int i = 0; i < MCU_LONG_DATA_MAX; ++i)
        out.push_back(static_cast<unsigned char>(1 + below(255)));
}

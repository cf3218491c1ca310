#include "framedecoder.h"

#include <mcuframes.h>
#include <mcumessages.h>
#include <mcuwords.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
    char line[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    return line;
}

// The meaningful bytes only: frames are zero-filled after them.
std::string hexData(const unsigned char *data, size_t n)
{
    size_t used = n;
    while (used > 0 && data[used - 1] == 0)
        --used;
    if (used == 0)
        return n == 0 ? "(none)" : "(all zero)";
    std::string out;
    out.reserve(used * 3);
    for (size_t i = 0; i < used; ++i)
        out += format(i ? " %02x" : "%02x", data[i]);
    return out;
}

bool zeroFrom(const unsigned char *data, size_t from, size_t n)
{
    return std::all_of(data + std::min(from, n), data + n, [](unsigned char b) { return b == 0; });
}

// Quoted, with anything but printable ASCII escaped, so a hostile text cannot
// garble the terminal or the line structure of the log.
std::string quoted(const unsigned char *text, size_t n)
{
    std::string out = "\"";
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = text[i];
        if (c == '"' || c == '\\')
            out += format("\\%c", c);
        else if (c < 0x20 || c > 0x7e)
            out += format("\\x%02x", c);
        else
            out += char(c);
    }
    return out + "\"";
}

DecodedFrame malformed(DecodedFrame frame, const char *why)
{
    frame.text += " [malformed: ";
    frame.text += why;
    frame.text += "]";
    frame.wellFormed = false;
    return frame;
}

const char *commandName(uint32_t p1)
{
    switch (p1) {
    case A2M_CMD_CUR_SOURCE: return "A2M_CMD_CUR_SOURCE";
    case A2M_CMD_APP_READY: return "A2M_CMD_APP_READY";
    case A2M_CMD_EJECT_DISC: return "A2M_CMD_EJECT_DISC";
    case A2M_CMD_ACTIVITY_REPLY: return "A2M_CMD_ACTIVITY_REPLY";
    case A2M_CMD_KEY_STUDY: return "A2M_CMD_KEY_STUDY";
    case A2M_CMD_HEARTBEAT: return "A2M_CMD_HEARTBEAT";
    }
    return nullptr;
}

DecodedFrame decodeNormal(const unsigned char *frame)
{
    const uint32_t msg = mcuWordAt(frame + 4), p1 = mcuWordAt(frame + 8), p2 = mcuWordAt(frame + 12);
    const std::string words = format("(msg %u, p1 %u, p2 %u)", msg, p1, p2);
    const char *name = msg == MSG_A2M_CMD ? commandName(p1) : nullptr;
    if (!name)
        return {"NORMAL", "NORMAL " + words};

    DecodedFrame d{name, name};
    switch (p1) {
    case A2M_CMD_CUR_SOURCE:
        d.text += format(" source %u arg %u ", p2 & 0xFFFFu, p2 >> 16) + words;
        return d;
    case A2M_CMD_KEY_STUDY:
        d.text += format(" byte %u ", p2) + words;
        return p2 > 0xFF ? malformed(d, "p2 is not a byte") : d;
    case A2M_CMD_APP_READY:
        d.text += " " + words;
        return p2 == A2M_APP_READY_STATE ? d : malformed(d, "unexpected p2");
    default:
        d.text += " " + words;
        return p2 == 0 ? d : malformed(d, "unexpected p2");
    }
}

DecodedFrame decodeVersionInfo(const unsigned char *data)
{
    const char *name = "MSG_A2M_VERSION_INFO";
    const size_t c = data[1];
    // Offsets are bounded before each read: count, c, C, s, S, 13, D (13 bytes).
    if (2 + c + 1 > MCU_SEND_DATA_SIZE)
        return malformed({name, name + std::string(" ") + hexData(data, MCU_SEND_DATA_SIZE)}, "C overruns the frame");
    const size_t s = data[2 + c];
    const size_t end = 2 + c + 1 + s + 1 + 13;
    if (end > MCU_SEND_DATA_SIZE)
        return malformed({name, name + std::string(" ") + hexData(data, MCU_SEND_DATA_SIZE)}, "S overruns the frame");
    const unsigned char *date = data + 3 + c + s + 1;
    const size_t dateLen = std::find(date, date + 13, 0) - date;
    DecodedFrame d{name, name + std::string(" customer ") + quoted(data + 2, c) + " sdk " + quoted(data + 3 + c, s)
                             + " date " + quoted(date, dateLen)};
    if (data[0] != ((c + s + 16) & 0xFF))
        return malformed(d, "count byte disagrees with the texts");
    if (data[3 + c + s] != 13)
        return malformed(d, "date length is not 13");
    if (!zeroFrom(data, end, MCU_SEND_DATA_SIZE))
        return malformed(d, "bytes after the date");
    return d;
}

DecodedFrame decodeLong(const unsigned char *frame)
{
    const uint32_t msg = mcuWordAt(frame + 4);
    const unsigned char *data = frame + 8;
    const size_t n = MCU_SEND_DATA_SIZE;
    switch (msg) {
    case MSG_A2M_KEY_COLOR: {
        DecodedFrame d{"MSG_A2M_KEY_COLOR", format("MSG_A2M_KEY_COLOR %u %u %u", data[2], data[3], data[4])};
        if (data[0] != A2M_KEY_COLOR_LEAD0 || data[1] != A2M_KEY_COLOR_LEAD1)
            return malformed(d, "lead bytes are not 4 1");
        return zeroFrom(data, 5, n) ? d : malformed(d, "bytes after the colours");
    }
    case MSG_A2M_HEARTBEAT_ONOFF: {
        DecodedFrame d{"MSG_A2M_HEARTBEAT_ONOFF", format("MSG_A2M_HEARTBEAT_ONOFF %u", data[2])};
        if (data[0] != A2M_HEARTBEAT_ONOFF_LEAD0 || data[1] != A2M_HEARTBEAT_ONOFF_LEAD1)
            return malformed(d, "lead bytes are not 3 28");
        return zeroFrom(data, 3, n) ? d : malformed(d, "bytes after the switch");
    }
    case MSG_A2M_TIME_CLOCK: {
        const uint32_t secs = mcuBigEndianAt(data + 1);
        const time_t t = time_t(secs);
        struct tm local;
        char when[32] = "?";
        if (localtime_r(&t, &local))
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
        DecodedFrame d{"MSG_A2M_TIME_CLOCK", format("MSG_A2M_TIME_CLOCK %s local (%u)", when, secs)};
        if (data[0] != A2M_TIME_CLOCK_LEAD)
            return malformed(d, "lead byte is not 4");
        return zeroFrom(data, 5, n) ? d : malformed(d, "bytes after the time");
    }
    case MSG_A2M_MEDIA_PLAY_INFO:
        return {"MSG_A2M_MEDIA_PLAY_INFO", "MSG_A2M_MEDIA_PLAY_INFO data " + hexData(data, n)};
    case MSG_A2M_KEY_STUDY: {
        DecodedFrame d{"MSG_A2M_KEY_STUDY", format("MSG_A2M_KEY_STUDY type %u byte %u", data[0], data[1])};
        if (data[0] != 1)
            return malformed(d, "type is not 1");
        return zeroFrom(data, 2, n) ? d : malformed(d, "bytes after the learning byte");
    }
    case MSG_A2M_VERSION_INFO:
        return decodeVersionInfo(data);
    }
    return {"LONG", format("LONG msg %u data ", msg) + hexData(data, n)};
}

} // namespace

FrameDecoder::FrameDecoder()
    : m_len(0)
{
}

void FrameDecoder::reset()
{
    m_len = 0;
}

std::vector<DecodedFrame> FrameDecoder::feed(const unsigned char *bytes, size_t n)
{
    std::vector<DecodedFrame> frames;
    while (n > 0) {
        const size_t want = m_len < 4 ? 4 : mcuWordAt(m_buf) == MCU_FRAME_NORMAL ? MCU_NORMAL_MSG_SIZE : MCU_SEND_FRAME_SIZE;
        const size_t take = std::min(want - m_len, n);
        std::memcpy(m_buf + m_len, bytes, take);
        m_len += take;
        bytes += take;
        n -= take;
        if (m_len == want && want > 4) {
            frames.push_back(decode(m_buf, m_len));
            m_len = 0;
        }
    }
    return frames;
}

DecodedFrame FrameDecoder::decode(const unsigned char *frame, size_t n)
{
    if (n < 4)
        return malformed({"UNKNOWN", "UNKNOWN " + hexData(frame, n)}, "shorter than a kind word");
    const uint32_t kind = mcuWordAt(frame);
    const size_t size = kind == MCU_FRAME_NORMAL ? MCU_NORMAL_MSG_SIZE : MCU_SEND_FRAME_SIZE;
    if (n < size)
        return malformed({"UNKNOWN", format("UNKNOWN kind %u: ", kind) + hexData(frame, n)},
                         "truncated frame");
    if (kind == MCU_FRAME_NORMAL)
        return decodeNormal(frame);
    if (kind == MCU_FRAME_LONG)
        return decodeLong(frame);
    const std::string rest = format(" msg %u data ", mcuWordAt(frame + 4)) + hexData(frame + 8, MCU_SEND_DATA_SIZE);
    if (kind == MCU_FRAME_CAN)
        return {"CAN", "CAN" + rest};
    return {"UNKNOWN", format("UNKNOWN kind %u", kind) + rest};
}

bool FrameDecoder::isKnownName(const std::string &name)
{
    static const char *const names[] = {
        "A2M_CMD_CUR_SOURCE", "A2M_CMD_APP_READY", "A2M_CMD_EJECT_DISC", "A2M_CMD_ACTIVITY_REPLY",
        "A2M_CMD_KEY_STUDY", "A2M_CMD_HEARTBEAT", "MSG_A2M_KEY_COLOR", "MSG_A2M_HEARTBEAT_ONOFF",
        "MSG_A2M_TIME_CLOCK", "MSG_A2M_MEDIA_PLAY_INFO", "MSG_A2M_KEY_STUDY", "MSG_A2M_VERSION_INFO",
        "NORMAL", "LONG", "CAN", "UNKNOWN",
    };
    return std::any_of(std::begin(names), std::end(names), [&](const char *n) { return name == n; });
}

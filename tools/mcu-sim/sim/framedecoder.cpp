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

// Fixed commands: msg MSG_A2M_CMD, the command in p1, its argument in p2.
std::string commandWords(const unsigned char *frame)
{
    return format("(msg %u, p1 %u, p2 %u)", mcuWordAt(frame + 4), mcuWordAt(frame + 8), mcuWordAt(frame + 12));
}

DecodedFrame commandWithoutArgument(const char *name, const unsigned char *frame)
{
    DecodedFrame d{name, name + (" " + commandWords(frame))};
    return mcuWordAt(frame + 12) == 0 ? d : malformed(d, "unexpected p2");
}

DecodedFrame currentSource(const char *name, const unsigned char *frame)
{
    const uint32_t p2 = mcuWordAt(frame + 12);
    return {name, name + format(" source %u arg %u ", p2 & 0xFFFFu, p2 >> 16) + commandWords(frame)};
}

DecodedFrame appReady(const char *name, const unsigned char *frame)
{
    DecodedFrame d{name, name + (" " + commandWords(frame))};
    return mcuWordAt(frame + 12) == A2M_APP_READY_STATE ? d : malformed(d, "unexpected p2");
}

DecodedFrame keyStudyCommand(const char *name, const unsigned char *frame)
{
    const uint32_t p2 = mcuWordAt(frame + 12);
    DecodedFrame d{name, name + format(" byte %u ", p2) + commandWords(frame)};
    return p2 > 0xFF ? malformed(d, "p2 is not a byte") : d;
}

// Long frames: 256 data bytes from frame offset 8.
const unsigned char *longData(const unsigned char *frame)
{
    return frame + 8;
}

DecodedFrame keyColor(const char *name, const unsigned char *frame)
{
    const unsigned char *data = longData(frame);
    DecodedFrame d{name, name + format(" %u %u %u", data[2], data[3], data[4])};
    if (data[0] != A2M_KEY_COLOR_LEAD0 || data[1] != A2M_KEY_COLOR_LEAD1)
        return malformed(d, "lead bytes are not 4 1");
    return zeroFrom(data, 5, MCU_SEND_DATA_SIZE) ? d : malformed(d, "bytes after the colours");
}

DecodedFrame heartbeatOnOff(const char *name, const unsigned char *frame)
{
    const unsigned char *data = longData(frame);
    DecodedFrame d{name, name + format(" %u", data[2])};
    if (data[0] != A2M_HEARTBEAT_ONOFF_LEAD0 || data[1] != A2M_HEARTBEAT_ONOFF_LEAD1)
        return malformed(d, "lead bytes are not 3 28");
    return zeroFrom(data, 3, MCU_SEND_DATA_SIZE) ? d : malformed(d, "bytes after the switch");
}

DecodedFrame timeClock(const char *name, const unsigned char *frame)
{
    const unsigned char *data = longData(frame);
    const uint32_t secs = mcuBigEndianAt(data + 1);
    const time_t t = time_t(secs);
    struct tm local;
    char when[32] = "?";
    if (localtime_r(&t, &local))
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    DecodedFrame d{name, name + format(" %s local (%u)", when, secs)};
    if (data[0] != A2M_TIME_CLOCK_LEAD)
        return malformed(d, "lead byte is not 4");
    return zeroFrom(data, 5, MCU_SEND_DATA_SIZE) ? d : malformed(d, "bytes after the time");
}

DecodedFrame mediaPlayInfo(const char *name, const unsigned char *frame)
{
    return {name, name + (" data " + hexData(longData(frame), MCU_SEND_DATA_SIZE))};
}

DecodedFrame keyStudy(const char *name, const unsigned char *frame)
{
    const unsigned char *data = longData(frame);
    DecodedFrame d{name, name + format(" type %u byte %u", data[0], data[1])};
    if (data[0] != 1)
        return malformed(d, "type is not 1");
    return zeroFrom(data, 2, MCU_SEND_DATA_SIZE) ? d : malformed(d, "bytes after the learning byte");
}

DecodedFrame versionInfo(const char *name, const unsigned char *frame)
{
    const unsigned char *data = longData(frame);
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

// The frames the launcher sends that the simulator knows by name. The decoder,
// the scenarios' name check and the help text all read this one table.
struct CatalogueEntry {
    enum Where {
        Command,   // normal frame, msg MSG_A2M_CMD, id in p1
        Long,      // kind 2 frame, id in msg
    };
    const char *name;
    Where where;
    uint32_t id;
    // Given the whole frame: 16 bytes for a Command, 264 for a Long.
    DecodedFrame (*decode)(const char *name, const unsigned char *frame);
};

const CatalogueEntry catalogue[] = {
    {"A2M_CMD_CUR_SOURCE", CatalogueEntry::Command, A2M_CMD_CUR_SOURCE, currentSource},
    {"A2M_CMD_APP_READY", CatalogueEntry::Command, A2M_CMD_APP_READY, appReady},
    {"A2M_CMD_EJECT_DISC", CatalogueEntry::Command, A2M_CMD_EJECT_DISC, commandWithoutArgument},
    {"A2M_CMD_ACTIVITY_REPLY", CatalogueEntry::Command, A2M_CMD_ACTIVITY_REPLY, commandWithoutArgument},
    {"A2M_CMD_KEY_STUDY", CatalogueEntry::Command, A2M_CMD_KEY_STUDY, keyStudyCommand},
    {"A2M_CMD_HEARTBEAT", CatalogueEntry::Command, A2M_CMD_HEARTBEAT, commandWithoutArgument},
    {"MSG_A2M_KEY_COLOR", CatalogueEntry::Long, MSG_A2M_KEY_COLOR, keyColor},
    {"MSG_A2M_HEARTBEAT_ONOFF", CatalogueEntry::Long, MSG_A2M_HEARTBEAT_ONOFF, heartbeatOnOff},
    {"MSG_A2M_TIME_CLOCK", CatalogueEntry::Long, MSG_A2M_TIME_CLOCK, timeClock},
    {"MSG_A2M_MEDIA_PLAY_INFO", CatalogueEntry::Long, MSG_A2M_MEDIA_PLAY_INFO, mediaPlayInfo},
    {"MSG_A2M_KEY_STUDY", CatalogueEntry::Long, MSG_A2M_KEY_STUDY, keyStudy},
    {"MSG_A2M_VERSION_INFO", CatalogueEntry::Long, MSG_A2M_VERSION_INFO, versionInfo},
};

// Names of the frames outside the catalogue, by kind.
const char *const NormalName = "NORMAL";
const char *const LongName = "LONG";
const char *const CanName = "CAN";
const char *const UnknownName = "UNKNOWN";

const CatalogueEntry *find(CatalogueEntry::Where where, uint32_t id)
{
    for (const CatalogueEntry &e : catalogue) {
        if (e.where == where && e.id == id)
            return &e;
    }
    return nullptr;
}

DecodedFrame decodeNormal(const unsigned char *frame)
{
    const CatalogueEntry *e = mcuWordAt(frame + 4) == MSG_A2M_CMD ? find(CatalogueEntry::Command, mcuWordAt(frame + 8)) : nullptr;
    if (e)
        return e->decode(e->name, frame);
    return {NormalName, NormalName + (" " + commandWords(frame))};
}

DecodedFrame decodeLong(const unsigned char *frame)
{
    const uint32_t msg = mcuWordAt(frame + 4);
    if (const CatalogueEntry *e = find(CatalogueEntry::Long, msg))
        return e->decode(e->name, frame);
    return {LongName, LongName + format(" msg %u data ", msg) + hexData(longData(frame), MCU_SEND_DATA_SIZE)};
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
    DecodedFrame d = decodeText(frame, n);
    d.bytes.assign(frame, frame + n);
    return d;
}

DecodedFrame FrameDecoder::decodeText(const unsigned char *frame, size_t n)
{
    if (n < 4)
        return malformed({UnknownName, UnknownName + (" " + hexData(frame, n))}, "shorter than a kind word");
    const uint32_t kind = mcuWordAt(frame);
    const size_t size = kind == MCU_FRAME_NORMAL ? MCU_NORMAL_MSG_SIZE : MCU_SEND_FRAME_SIZE;
    if (n < size)
        return malformed({UnknownName, UnknownName + format(" kind %u: ", kind) + hexData(frame, n)},
                         "truncated frame");
    if (kind == MCU_FRAME_NORMAL)
        return decodeNormal(frame);
    if (kind == MCU_FRAME_LONG)
        return decodeLong(frame);
    const std::string rest = format(" msg %u data ", mcuWordAt(frame + 4)) + hexData(longData(frame), MCU_SEND_DATA_SIZE);
    if (kind == MCU_FRAME_CAN)
        return {CanName, CanName + rest};
    return {UnknownName, UnknownName + format(" kind %u", kind) + rest};
}

const std::vector<std::string> &FrameDecoder::catalogueNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const CatalogueEntry &e : catalogue)
            all.push_back(e.name);
        return all;
    }();
    return names;
}

const std::vector<std::string> &FrameDecoder::uncataloguedNames()
{
    static const std::vector<std::string> names = {NormalName, LongName, CanName, UnknownName};
    return names;
}

bool FrameDecoder::isKnownName(const std::string &name)
{
    const auto in = [&name](const std::vector<std::string> &names) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    return in(catalogueNames()) || in(uncataloguedNames());
}

#include "inboundcommand.h"

#include "scenariocommand.h"

#include <mcuframes.h>
#include <mcumessages.h>
#include <mcuwords.h>

#include <algorithm>
#include <cstdio>

namespace {

// What one "send raw" line may carry (the scenario parser's limit).
const size_t RawBytesPerLine = 4096;

std::string hexByte(unsigned char b)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02x", b);
    return text;
}

// " 01 02 03": one token a byte, as the scenarios write payloads.
std::string byteTokens(const unsigned char *p, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += " " + hexByte(p[i]);
    return out;
}

// " 01000000 16330000": one token a word, so that raw frames read by their words.
std::string wordTokens(const unsigned char *p, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += (i % 4 == 0 ? " " : "") + hexByte(p[i]);
    return out;
}

std::string u(uint32_t v)
{
    return std::to_string(v);
}

// A text the scenario line can carry as it stands: printable, no comment sign,
// no space at either end (the parser trims them).
bool plainText(const std::string &text)
{
    return !text.empty() && text.front() != ' ' && text.back() != ' '
           && std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~' && c != '#'; });
}

// The named command, then the generic frame; either may fail the parse-back.
std::vector<std::string> candidates(const std::vector<unsigned char> &f)
{
    std::vector<std::string> out;
    if (f.size() < MCU_LONG_HEADER_SIZE)
        return out;
    const unsigned char *p = f.data();
    const uint32_t kind = mcuWordAt(p), msg = mcuWordAt(p + 4), word2 = mcuWordAt(p + 8);
    if (kind == MCU_FRAME_NORMAL && f.size() == MCU_NORMAL_MSG_SIZE) {
        const uint32_t p1 = word2, p2 = mcuWordAt(p + 12);
        if (msg == MSG_M2A_KEY_PRESSED)
            out.push_back("key " + u(p1) + " " + u(p2));
        else if (msg == MSG_M2A_CMD && p1 == M2A_CMD_EJECT)
            out.push_back("eject");
        else if (msg == MSG_M2A_CMD && p1 == M2A_CMD_ACTIVITY)
            out.push_back("activity " + u(p2));
        else if (msg == MSG_M2A_GET_VERSION)
            out.push_back("get-version");
        else if (msg == MSG_M2A_MCU_TYPE)
            out.push_back("mcu-type " + u(p1) + " " + u(p2));
        out.push_back("normal " + u(msg) + " " + u(p1) + " " + u(p2));
        return out;
    }
    if (word2 != f.size() || f.size() > MCU_FRAME_MAX || (kind != MCU_FRAME_LONG && kind != MCU_FRAME_CAN))
        return out;
    const size_t n = f.size();
    if (kind == MCU_FRAME_LONG) {
        if (msg == uint32_t(MSG_M2A_MCU_TIME) && n >= 17)
            out.push_back("mcu-time " + u(mcuBigEndianAt(p + 13)));
        else if (msg == uint32_t(MSG_M2A_RDS_TIME) && n >= 15)
            out.push_back("rds-time " + u(p[13]) + " " + u(p[14]));
        else if (msg == uint32_t(MSG_M2A_MCU_VERSION) && n > 14) {
            const std::string text(reinterpret_cast<const char *>(p + 13), n - 14);
            if (plainText(text))
                out.push_back("mcu-version " + text);
        } else if (msg == uint32_t(MSG_M2A_UUID) && n >= 21) {
            std::string prefix;
            for (size_t i = 13; i < 15 && p[i] != 0; ++i)
                prefix += char(p[i]);
            if (prefix != "-" && (prefix.empty() || plainText(prefix)))
                out.push_back("uuid " + (prefix.empty() ? std::string("-") : prefix) + " " + u(mcuBigEndianAt(p + 17)));
        } else if (msg == uint32_t(MSG_M2A_KEY_STUDY) && n >= 30) {
            std::string args;
            for (size_t i = 12; i < 18; ++i)
                args += " " + u(p[i]);
            for (size_t i = 18; i < 30; i += 2)
                args += " " + u(uint32_t(p[i]) << 8 | p[i + 1]);
            out.push_back("key-study" + args);
        }
    }
    out.push_back(std::string(kind == MCU_FRAME_LONG ? "long " : "can ") + u(msg)
                  + byteTokens(p + MCU_LONG_HEADER_SIZE, n - MCU_LONG_HEADER_SIZE));
    return out;
}

bool rebuilds(const std::string &line, const std::vector<unsigned char> &frame)
{
    ScenarioCommand c;
    std::string error;
    return ScenarioCommand::parse(line, &c, &error) && c.op == ScenarioCommand::Send && c.frame == frame;
}

} // namespace

std::vector<std::string> InboundCommand::sendLines(const std::vector<unsigned char> &frame)
{
    for (const std::string &args : candidates(frame)) {
        const std::string line = "send " + args;
        if (rebuilds(line, frame))
            return {line};
    }
    std::vector<std::string> lines;
    for (size_t at = 0; at < frame.size(); at += RawBytesPerLine)
        lines.push_back("send raw" + wordTokens(frame.data() + at, std::min(RawBytesPerLine, frame.size() - at)));
    return lines;
}

std::string InboundCommand::shown(const std::vector<unsigned char> &frame)
{
    const std::vector<std::string> lines = sendLines(frame);
    ScenarioCommand c;
    std::string error;
    if (lines.size() == 1 && ScenarioCommand::parse(lines.front(), &c, &error))
        return c.what;
    return "raw " + std::to_string(frame.size()) + " bytes";
}

#include "scenariocommand.h"

#include "framebuilder.h"
#include "framedecoder.h"

#include <mcuframes.h>

#include <cctype>
#include <cstdint>

namespace {

const int MaxMs = 3600 * 1000;
const size_t MaxRawBytes = 4096;

struct Token {
    std::string text;
    size_t end;  // offset just past the token in the line
};

std::vector<Token> tokenize(const std::string &line)
{
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        const size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i > start)
            tokens.push_back({line.substr(start, i - start), i});
    }
    return tokens;
}

std::string trimmed(const std::string &s)
{
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// Decimal, or hexadecimal after "0x"; no sign, no octal surprises.
bool number(const std::string &s, uint64_t max, uint64_t *value)
{
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const size_t first = hex ? 2 : 0;
    if (s.size() == first)
        return false;
    uint64_t v = 0;
    for (size_t i = first; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (hex && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            return false;
        v = v * (hex ? 16 : 10) + uint64_t(digit);
        if (v > max)
            return false;
    }
    *value = v;
    return true;
}

bool hexBytes(const std::vector<Token> &tokens, size_t from, size_t max, std::vector<unsigned char> *bytes,
              std::string *error)
{
    for (size_t t = from; t < tokens.size(); ++t) {
        const std::string &s = tokens[t].text;
        if (s.size() % 2 != 0) {
            *error = "odd number of hex digits in \"" + s + "\"";
            return false;
        }
        for (size_t i = 0; i < s.size(); i += 2) {
            uint64_t b;
            if (!number("0x" + s.substr(i, 2), 0xFF, &b)) {
                *error = "not hex bytes: \"" + s + "\"";
                return false;
            }
            bytes->push_back(static_cast<unsigned char>(b));
        }
    }
    if (bytes->size() > max) {
        *error = "more than " + std::to_string(max) + " bytes";
        return false;
    }
    return true;
}

// Checks the argument count and converts them all, each at most max.
class Args
{
public:
    Args(const std::vector<Token> &tokens, size_t from, std::string *error)
        : m_tokens(tokens), m_from(from), m_error(error)
    {
    }

    size_t count() const { return m_tokens.size() - m_from; }

    bool expectCount(size_t min, size_t max, const char *usage)
    {
        if (count() >= min && count() <= max)
            return true;
        *m_error = std::string("usage: ") + usage;
        return false;
    }

    bool get(size_t i, uint64_t max, uint64_t *value)
    {
        const std::string &s = m_tokens[m_from + i].text;
        if (number(s, max, value))
            return true;
        *m_error = "\"" + s + "\" is not a number from 0 to " + std::to_string(max);
        return false;
    }

    std::string joined() const
    {
        std::string out;
        for (size_t i = m_from; i < m_tokens.size(); ++i)
            out += " " + m_tokens[i].text;
        return out;
    }

private:
    const std::vector<Token> &m_tokens;
    size_t m_from;
    std::string *m_error;
};

bool parseSend(const std::string &line, const std::vector<Token> &tokens, ScenarioCommand *c, std::string *error)
{
    if (tokens.size() < 2) {
        *error = "usage: send WHAT [ARGS...]";
        return false;
    }
    const std::string &what = tokens[1].text;
    Args args(tokens, 2, error);
    uint64_t a = 0, b = 0, m = 0;
    const char *name = nullptr;

    if (what == "key") {
        if (!args.expectCount(2, 2, "send key KEY STATE") || !args.get(0, UINT32_MAX, &a) || !args.get(1, UINT32_MAX, &b))
            return false;
        name = "MSG_M2A_KEY_PRESSED";
        c->frame = FrameBuilder::keyPressed(uint32_t(a), uint32_t(b));
    } else if (what == "eject") {
        if (!args.expectCount(0, 0, "send eject"))
            return false;
        name = "MSG_M2A_CMD eject";
        c->frame = FrameBuilder::eject();
    } else if (what == "activity") {
        if (!args.expectCount(1, 1, "send activity N") || !args.get(0, UINT32_MAX, &a))
            return false;
        name = "MSG_M2A_CMD activity";
        c->frame = FrameBuilder::activity(uint32_t(a));
    } else if (what == "get-version") {
        if (!args.expectCount(0, 0, "send get-version"))
            return false;
        name = "MSG_M2A_GET_VERSION";
        c->frame = FrameBuilder::getVersion();
    } else if (what == "mcu-type") {
        if (!args.expectCount(2, 2, "send mcu-type MCU TUNER") || !args.get(0, UINT32_MAX, &a)
            || !args.get(1, UINT32_MAX, &b))
            return false;
        name = "MSG_M2A_MCU_TYPE";
        c->frame = FrameBuilder::mcuType(uint32_t(a), uint32_t(b));
    } else if (what == "mcu-time") {
        if (!args.expectCount(1, 1, "send mcu-time SECONDS") || !args.get(0, UINT32_MAX, &a))
            return false;
        name = "MSG_M2A_MCU_TIME";
        c->frame = FrameBuilder::mcuTime(uint32_t(a));
    } else if (what == "rds-time") {
        if (!args.expectCount(2, 2, "send rds-time HOUR MINUTE") || !args.get(0, 0xFF, &a) || !args.get(1, 0xFF, &b))
            return false;
        name = "MSG_M2A_RDS_TIME";
        c->frame = FrameBuilder::rdsTime(static_cast<unsigned char>(a), static_cast<unsigned char>(b));
    } else if (what == "mcu-version") {
        const std::string text = trimmed(line.substr(tokens[1].end));
        if (text.empty() || text.size() > MCU_FRAME_MAX - 14) {
            *error = "usage: send mcu-version TEXT (1 to 254 characters)";
            return false;
        }
        c->what = "MSG_M2A_MCU_VERSION \"" + text + "\" " ;
        c->frame = FrameBuilder::mcuVersion(text);
        c->what += FrameBuilder::summary(c->frame);
        return true;
    } else if (what == "uuid") {
        if (!args.expectCount(2, 2, "send uuid PREFIX NUMBER (PREFIX: up to 2 characters, - for none)")
            || !args.get(1, UINT32_MAX, &a))
            return false;
        const std::string prefix = tokens[2].text == "-" ? std::string() : tokens[2].text;
        if (prefix.size() > 2) {
            *error = "a UUID prefix has at most 2 characters";
            return false;
        }
        name = "MSG_M2A_UUID";
        c->frame = FrameBuilder::uuid(prefix, uint32_t(a));
    } else if (what == "key-study") {
        if (!args.expectCount(1, 12, "send key-study B1 [.. B6 [V1 .. V6]] (bytes, then 16-bit values; missing ones are 0)"))
            return false;
        unsigned char bytes[6] = {};
        uint16_t values[6] = {};
        for (size_t i = 0; i < args.count(); ++i) {
            if (!args.get(i, i < 6 ? 0xFF : 0xFFFF, &a))
                return false;
            if (i < 6)
                bytes[i] = static_cast<unsigned char>(a);
            else
                values[i - 6] = static_cast<uint16_t>(a);
        }
        name = "MSG_M2A_KEY_STUDY";
        c->frame = FrameBuilder::keyStudy(bytes, values);
    } else if (what == "normal") {
        if (!args.expectCount(3, 3, "send normal MSG P1 P2") || !args.get(0, UINT32_MAX, &m)
            || !args.get(1, UINT32_MAX, &a) || !args.get(2, UINT32_MAX, &b))
            return false;
        name = "normal";
        c->frame = FrameBuilder::normal(uint32_t(m), uint32_t(a), uint32_t(b));
    } else if (what == "long" || what == "can") {
        std::vector<unsigned char> payload;
        if (!args.expectCount(1, SIZE_MAX, "send long|can MSG [HEX BYTES...]") || !args.get(0, UINT32_MAX, &m)
            || !hexBytes(tokens, 3, MCU_LONG_DATA_MAX, &payload, error))
            return false;
        name = what == "long" ? "long" : "CAN";
        c->frame = FrameBuilder::longFrame(what == "long" ? MCU_FRAME_LONG : MCU_FRAME_CAN, uint32_t(m), payload);
    } else if (what == "raw") {
        if (!args.expectCount(1, SIZE_MAX, "send raw HEX BYTES...") || !hexBytes(tokens, 2, MaxRawBytes, &c->frame, error))
            return false;
        c->what = "raw " + std::to_string(c->frame.size()) + " bytes";
        return true;
    } else {
        *error = "unknown frame \"" + what + "\" (see help)";
        return false;
    }
    c->what = name + args.joined() + " " + FrameBuilder::summary(c->frame);
    return true;
}

bool parseMs(const std::vector<Token> &tokens, size_t i, int *ms, std::string *error)
{
    uint64_t v;
    if (i >= tokens.size() || !number(tokens[i].text, MaxMs, &v)) {
        *error = "a time in milliseconds from 0 to " + std::to_string(MaxMs) + " is needed";
        return false;
    }
    *ms = int(v);
    return true;
}

// Four to a line, as the decoder names them.
std::string frameNames()
{
    std::string text = "Frame names:";
    const std::vector<std::string> &names = FrameDecoder::catalogueNames();
    for (size_t i = 0; i < names.size(); ++i)
        text += (i > 0 && i % 4 == 0 ? "\n  " : " ") + names[i];
    text += "\n ";
    for (const std::string &name : FrameDecoder::uncataloguedNames())
        text += " " + name;
    return text + " (frames outside the catalogue)\n";
}

} // namespace

bool ScenarioCommand::parse(const std::string &rawLine, ScenarioCommand *command, std::string *error)
{
    const std::string line = rawLine.substr(0, rawLine.find('#'));
    const std::vector<Token> tokens = tokenize(line);
    ScenarioCommand c;
    if (tokens.empty()) {
        *command = c;
        return true;
    }
    const std::string &verb = tokens[0].text;
    if (verb == "wait-connect" || verb == "sleep") {
        c.op = verb == "sleep" ? Sleep : WaitConnect;
        if (!parseMs(tokens, 1, &c.ms, error))
            return false;
        if (tokens.size() > 2) {
            *error = "usage: " + verb + " MS";
            return false;
        }
    } else if (verb == "expect" || verb == "expect-none") {
        c.op = verb == "expect" ? Expect : ExpectNone;
        if (tokens.size() < 3) {
            *error = "usage: " + verb + " NAME MS [TEXT]";
            return false;
        }
        c.name = tokens[1].text;
        if (!FrameDecoder::isKnownName(c.name)) {
            *error = "no frame is called \"" + c.name + "\" (see help)";
            return false;
        }
        if (!parseMs(tokens, 2, &c.ms, error))
            return false;
        c.match = trimmed(line.substr(tokens[2].end));
    } else if (verb == "send") {
        c.op = Send;
        if (!parseSend(line, tokens, &c, error))
            return false;
    } else if (verb == "disconnect" || verb == "help") {
        c.op = verb == "help" ? Help : Disconnect;
        if (tokens.size() > 1) {
            *error = "usage: " + verb;
            return false;
        }
    } else {
        *error = "unknown command \"" + verb + "\" (see help)";
        return false;
    }
    *command = c;
    return true;
}

const std::string &ScenarioCommand::help()
{
    static const std::string text = std::string(
        "Scenario commands, one per line; '#' starts a comment; numbers are decimal or 0x hex:\n"
        "  wait-connect MS           wait for the launcher to connect\n"
        "  expect NAME MS [TEXT]     wait for a frame NAME from the launcher, whose decoded line\n"
        "                            contains TEXT if given; frames since the last match count\n"
        "  expect-none NAME MS [TEXT] fail if such a frame arrives within MS\n"
        "  sleep MS                  keep reading and showing frames for MS\n"
        "  disconnect                drop the launcher's connection\n"
        "  send key KEY STATE        normal 13078\n"
        "  send eject                normal 529, p1 47\n"
        "  send activity N           normal 529, p1 13, p2 N (the launcher replies A2M_CMD_ACTIVITY_REPLY)\n"
        "  send get-version          normal 13080 (reply MSG_A2M_VERSION_INFO)\n"
        "  send mcu-type MCU TUNER   normal 13144\n"
        "  send mcu-time SECONDS     long 12; 15551999 or less is untrusted (reply MSG_A2M_TIME_CLOCK)\n"
        "  send rds-time HOUR MINUTE long 82 (reply MSG_A2M_TIME_CLOCK when RDS sync is on)\n"
        "  send mcu-version TEXT     long 25\n"
        "  send uuid PREFIX NUMBER   long 212; PREFIX up to 2 characters, - for none\n"
        "  send key-study B1..B6 V1..V6  long 47; bytes then 16-bit values, missing ones 0\n"
        "  send normal MSG P1 P2     any normal frame\n"
        "  send long MSG [HEX...]    any long frame (kind 2), payload as hex bytes\n"
        "  send can MSG [HEX...]     a CAN frame (kind 3)\n"
        "  send raw HEX...           bytes as they stand, framed or not\n")
        + frameNames();
    return text;
}

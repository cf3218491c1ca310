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
            if (bytes->size() == max) {
                *error = "more than " + std::to_string(max) + " bytes";
                return false;
            }
            bytes->push_back(static_cast<unsigned char>(b));
        }
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

typedef FrameBuilder::Bytes Bytes;

// Sets the command's frame and its "-> " line: the frame's name, the arguments
// as given, then the frame's summary.
bool named(ScenarioCommand *c, const std::string &name, const Args &args, Bytes frame)
{
    c->frame = std::move(frame);
    c->what = name + args.joined() + " " + FrameBuilder::summary(c->frame);
    return true;
}

bool parseMcuVersion(const std::string &line, const std::vector<Token> &tokens, Args &, ScenarioCommand *c,
                     std::string *error)
{
    const std::string text = trimmed(line.substr(tokens[1].end));
    if (text.empty() || text.size() > MCU_FRAME_MAX - 14) {
        *error = "usage: send mcu-version TEXT (1 to 254 characters)";
        return false;
    }
    c->frame = FrameBuilder::mcuVersion(text);
    c->what = "MSG_M2A_MCU_VERSION \"" + text + "\" " + FrameBuilder::summary(c->frame);
    return true;
}

bool parseUuid(const std::string &, const std::vector<Token> &tokens, Args &args, ScenarioCommand *c, std::string *error)
{
    uint64_t number;
    if (!args.expectCount(2, 2, "send uuid PREFIX NUMBER (PREFIX: up to 2 characters, - for none)")
        || !args.get(1, UINT32_MAX, &number))
        return false;
    const std::string prefix = tokens[2].text == "-" ? std::string() : tokens[2].text;
    if (prefix.size() > 2) {
        *error = "a UUID prefix has at most 2 characters";
        return false;
    }
    return named(c, "MSG_M2A_UUID", args, FrameBuilder::uuid(prefix, uint32_t(number)));
}

bool parseKeyStudy(const std::string &, const std::vector<Token> &, Args &args, ScenarioCommand *c, std::string *)
{
    if (!args.expectCount(1, 12, "send key-study B1 [.. B6 [V1 .. V6]] (bytes, then 16-bit values; missing ones are 0)"))
        return false;
    unsigned char bytes[6] = {};
    uint16_t values[6] = {};
    for (size_t i = 0; i < args.count(); ++i) {
        uint64_t v;
        if (!args.get(i, i < 6 ? 0xFF : 0xFFFF, &v))
            return false;
        if (i < 6)
            bytes[i] = static_cast<unsigned char>(v);
        else
            values[i - 6] = static_cast<uint16_t>(v);
    }
    return named(c, "MSG_M2A_KEY_STUDY", args, FrameBuilder::keyStudy(bytes, values));
}

bool parseLong(const std::string &, const std::vector<Token> &tokens, Args &args, ScenarioCommand *c, std::string *error)
{
    const bool can = tokens[1].text == "can";
    uint64_t msg;
    Bytes payload;
    if (!args.expectCount(1, SIZE_MAX, "send long|can MSG [HEX BYTES...]") || !args.get(0, UINT32_MAX, &msg)
        || !hexBytes(tokens, 3, MCU_LONG_DATA_MAX, &payload, error))
        return false;
    return named(c, can ? "CAN" : "long", args,
                 FrameBuilder::longFrame(can ? MCU_FRAME_CAN : MCU_FRAME_LONG, uint32_t(msg), payload));
}

bool parseRaw(const std::string &, const std::vector<Token> &tokens, Args &args, ScenarioCommand *c, std::string *error)
{
    if (!args.expectCount(1, SIZE_MAX, "send raw HEX BYTES...") || !hexBytes(tokens, 2, MaxRawBytes, &c->frame, error))
        return false;
    c->what = "raw " + std::to_string(c->frame.size()) + " bytes";
    return true;
}

// What "send" can send. Most frames take numbers, each at most `max`, in
// exactly the count their builder uses; the others parse their own arguments.
struct SendVerb {
    const char *what;
    const char *usage;
    size_t count;
    uint64_t max;
    const char *name;   // on the "-> " line
    Bytes (*build)(const uint64_t *args);
    bool (*parse)(const std::string &line, const std::vector<Token> &tokens, Args &args, ScenarioCommand *c,
                  std::string *error);
};

const SendVerb SendVerbs[] = {
    {"key", "send key KEY STATE", 2, UINT32_MAX, "MSG_M2A_KEY_PRESSED",
     [](const uint64_t *a) { return FrameBuilder::keyPressed(uint32_t(a[0]), uint32_t(a[1])); }, nullptr},
    {"eject", "send eject", 0, 0, "MSG_M2A_CMD eject", [](const uint64_t *) { return FrameBuilder::eject(); }, nullptr},
    {"activity", "send activity N", 1, UINT32_MAX, "MSG_M2A_CMD activity",
     [](const uint64_t *a) { return FrameBuilder::activity(uint32_t(a[0])); }, nullptr},
    {"get-version", "send get-version", 0, 0, "MSG_M2A_GET_VERSION",
     [](const uint64_t *) { return FrameBuilder::getVersion(); }, nullptr},
    {"mcu-type", "send mcu-type MCU TUNER", 2, UINT32_MAX, "MSG_M2A_MCU_TYPE",
     [](const uint64_t *a) { return FrameBuilder::mcuType(uint32_t(a[0]), uint32_t(a[1])); }, nullptr},
    {"mcu-time", "send mcu-time SECONDS", 1, UINT32_MAX, "MSG_M2A_MCU_TIME",
     [](const uint64_t *a) { return FrameBuilder::mcuTime(uint32_t(a[0])); }, nullptr},
    {"rds-time", "send rds-time HOUR MINUTE", 2, 0xFF, "MSG_M2A_RDS_TIME",
     [](const uint64_t *a) { return FrameBuilder::rdsTime(static_cast<unsigned char>(a[0]), static_cast<unsigned char>(a[1])); },
     nullptr},
    {"normal", "send normal MSG P1 P2", 3, UINT32_MAX, "normal",
     [](const uint64_t *a) { return FrameBuilder::normal(uint32_t(a[0]), uint32_t(a[1]), uint32_t(a[2])); }, nullptr},
    {"mcu-version", nullptr, 0, 0, nullptr, nullptr, parseMcuVersion},
    {"uuid", nullptr, 0, 0, nullptr, nullptr, parseUuid},
    {"key-study", nullptr, 0, 0, nullptr, nullptr, parseKeyStudy},
    {"long", nullptr, 0, 0, nullptr, nullptr, parseLong},
    {"can", nullptr, 0, 0, nullptr, nullptr, parseLong},
    {"raw", nullptr, 0, 0, nullptr, nullptr, parseRaw},
};

bool parseSend(const std::string &line, const std::vector<Token> &tokens, ScenarioCommand *c, std::string *error)
{
    if (tokens.size() < 2) {
        *error = "usage: send WHAT [ARGS...]";
        return false;
    }
    const std::string &what = tokens[1].text;
    for (const SendVerb &verb : SendVerbs) {
        if (what != verb.what)
            continue;
        Args args(tokens, 2, error);
        if (verb.parse)
            return verb.parse(line, tokens, args, c, error);
        uint64_t values[3] = {};
        if (!args.expectCount(verb.count, verb.count, verb.usage))
            return false;
        for (size_t i = 0; i < verb.count; ++i) {
            if (!args.get(i, verb.max, &values[i]))
                return false;
        }
        return named(c, verb.name, args, verb.build(values));
    }
    *error = "unknown frame \"" + what + "\" (see help)";
    return false;
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

std::string ScenarioCommand::tooLong()
{
    return "a line longer than " + std::to_string(size_t(MaxLineLength)) + " bytes";
}

bool ScenarioCommand::parse(const std::string &rawLine, ScenarioCommand *command, std::string *error)
{
    if (rawLine.size() > MaxLineLength) {
        *error = tooLong();
        return false;
    }
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
        "  send mcu-time SECONDS     long 12; 15551999 or less, or 4294967295, is untrusted (reply MSG_A2M_TIME_CLOCK)\n"
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

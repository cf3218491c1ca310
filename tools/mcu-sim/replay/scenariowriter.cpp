#include "scenariowriter.h"

#include "framedecoder.h"
#include "inboundcommand.h"
#include "replaycomparison.h"

#include <algorithm>
#include <cstdint>

namespace {

const int WaitConnectMs = 30000;
const int ExpectMs = 5000;
const uint64_t KeptPauseMs = 100;
const uint64_t LongestSleepMs = 3600 * 1000;   // the scenario parser's limit
const size_t NoteColumn = 44;

// The line with its origin as a comment, the comments aligned.
std::string noted(const std::string &line, const std::string &note)
{
    return line + std::string(line.size() < NoteColumn ? NoteColumn - line.size() : 1, ' ') + "# " + note;
}

std::string recordName(const CaptureSession::Step &step)
{
    return "record " + std::to_string(step.record);
}

// A pause of the capture, rounded to the millisecond, as sleep lines the
// parser takes. The session bounds a pause, and so the number of lines.
void addSleeps(uint64_t pauseNs, const ScenarioWriter::LineSink &out)
{
    uint64_t ms = pauseNs / 1000000 + (pauseNs % 1000000 >= 500000 ? 1 : 0);
    if (ms < KeptPauseMs)
        return;
    for (; ms > 0; ms -= std::min(ms, LongestSleepMs))
        out("sleep " + std::to_string(std::min(ms, LongestSleepMs)));
}

// What follows the name in the decoded line, up to a comment sign, which the
// scenario line cannot carry.
std::string expectText(const DecodedFrame &frame)
{
    std::string text = frame.text.substr(frame.name.size());
    text = text.substr(0, text.find('#'));
    const size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string expectLine(const CaptureSession::Step &step, bool causeSeen)
{
    const DecodedFrame frame = FrameDecoder::decode(step.bytes.data(), step.bytes.size());
    if (!causeSeen)
        return "# " + recordName(step) + ": not expected, sent before the capture's first MCU frame: " + frame.text;
    if (!frame.wellFormed)
        return "# " + recordName(step) + ": not expected, malformed, which expect cannot wait for: " + frame.text;
    const std::string head = "expect " + frame.name + " " + std::to_string(ExpectMs);
    if (const char *reason = ReplayComparison::formReason(frame))
        return noted(head, recordName(step) + ": by name only, " + reason);
    return noted(head + " " + expectText(frame), recordName(step));
}

} // namespace

bool ScenarioWriter::write(const CaptureSession &session, const std::string &sourceName, const LineSink &out,
                           std::string *error)
{
    out("# Derived from " + sourceName + " by mcu-sim --scenario-from: " + std::to_string(session.recordCount())
        + " records, " + std::to_string(session.connectionCount())
        + (session.connectionCount() == 1 ? " connection." : " connections."));
    out("# The MCU's frames are sent as they were, the launcher's expected within " + std::to_string(ExpectMs / 1000)
        + " s; pauses of " + std::to_string(KeptPauseMs) + " ms or more are kept.");
    for (const std::string &note : session.notes())
        out("# " + note);
    bool causeSeen = !session.beginsInsideConnection();
    if (!causeSeen)
        out(noted("wait-connect " + std::to_string(WaitConnectMs), "the capture begins inside a connection"));

    return session.forEachStep([&](const CaptureSession::Step &step) {
        switch (step.kind) {
        case CaptureSession::Step::Connect:
            causeSeen = true;
            out(noted("wait-connect " + std::to_string(WaitConnectMs), recordName(step) + ": the launcher connects"));
            break;
        case CaptureSession::Step::Disconnect:
            addSleeps(step.pauseNs, out);
            out(noted("disconnect", recordName(step) + ": "
                                        + (step.by == McuCaptureOut ? "the launcher" : "the MCU service")
                                        + " ended the connection"));
            break;
        case CaptureSession::Step::Send: {
            addSleeps(step.pauseNs, out);
            const std::vector<std::string> sends = InboundCommand::sendLines(step.wire());
            for (size_t i = 0; i < sends.size(); ++i)
                out(noted(sends[i], recordName(step) + (i > 0 ? ", continued" : "")));
            causeSeen = true;
            break;
        }
        case CaptureSession::Step::Expect:
            out(expectLine(step, causeSeen || step.connection > 0));
            break;
        case CaptureSession::Step::Unheard:
            out("# " + recordName(step) + ": not expected, sent while the link was down: "
                + FrameDecoder::decode(step.bytes.data(), step.bytes.size()).text);
            break;
        }
        return true;
    }, error);
}

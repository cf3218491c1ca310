// Two captures, the first two bytes giving the first one's length: the
// launcher's frames of the first are expected, those of the second arrive.
// Every frame gets exactly one verdict; a capture compared with itself
// matches whole; the scenario derived from the first parses line by line.
// Memory: a step keeps no more than the capture kept of its frame, and sends
// no more than a frame of the link.
#include "capturesession.h"
#include "replaycomparison.h"
#include "scenariocommand.h"
#include "scenariowriter.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The launcher's frames of a checked session, handed to add; false for a
// session that does not read again as it was checked.
template <typename Add>
bool launcherFrames(const CaptureSession &session, Add add)
{
    std::string error;
    return session.forEachStep([&add](const CaptureSession::Step &step) {
        if (step.bytes.size() > McuCaptureMaxKept || step.wire().size() > McuCaptureMaxFrameLength)
            std::abort();
        if (step.kind == CaptureSession::Step::Expect)
            add(step);
        return true;
    }, &error);
}

void compare(const CaptureSession &expected, const CaptureSession &received, bool same)
{
    ReplayComparison comparison;
    size_t frames = 0;
    if (!launcherFrames(expected, [&](const CaptureSession::Step &s) {
            comparison.expect(s.connection, s.record, s.bytes, false);
            ++frames;
        })
        || !launcherFrames(received, [&](const CaptureSession::Step &s) {
               comparison.receive(s.connection, s.record, FrameDecoder::decode(s.bytes.data(), s.bytes.size()), false);
               ++frames;
           }))
        std::abort();
    size_t verdicts = 0;
    for (const ReplayComparison::Entry &e : comparison.entries()) {
        verdicts += e.replayOnly || e.verdict == ReplayComparison::Missing ? 1 : 2;
        if (same && e.verdict != ReplayComparison::Matched)
            std::abort();
    }
    if (verdicts != frames)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t split = 2 + (size_t(data[0]) << 8 | data[1]) % (size - 1);
    CaptureSession first, second;
    std::string error;
    if (!first.loadBytes(data + 2, split - 2, "first", &error))
        return 0;
    compare(first, first, true);
    if (second.loadBytes(data + split, size - split, "second", &error))
        compare(first, second, false);

    ScenarioCommand c;
    if (!ScenarioWriter::write(first, "first", [&c, &error](const std::string &line) {
            if (!ScenarioCommand::parse(line, &c, &error))
                std::abort();
        }, &error))
        std::abort();
    return 0;
}

#include "capturesession.h"

#include <mcuframes.h>
#include <mcuwords.h>

#include <algorithm>

namespace {

// Pauses from this long on are worth a word before they are waited out.
const uint64_t LongPauseNs = 60ull * 1000000000ull;

} // namespace

bool CaptureSession::load(const std::string &path, std::string *error)
{
    std::vector<McuCaptureRecord> records;
    return McuCaptureReader::readAll(path, &records, error) && assign(records, path, error);
}

std::string CaptureSession::launcherFrameError(const unsigned char *bytes, size_t length)
{
    const uint32_t kind = length >= 4 ? mcuWordAt(bytes) : 0;
    if ((kind == MCU_FRAME_NORMAL && length == MCU_NORMAL_MSG_SIZE)
        || ((kind == MCU_FRAME_LONG || kind == MCU_FRAME_CAN) && length == MCU_SEND_FRAME_SIZE))
        return std::string();
    return "the launcher sends frames of kind 1 and 16 bytes or of kind 2 or 3 and 264 bytes, not "
           + (length >= 4 ? "kind " + std::to_string(kind) + " and " : std::string()) + std::to_string(length) + " bytes";
}

bool CaptureSession::assign(const std::vector<McuCaptureRecord> &records, const std::string &sourceName,
                            std::string *error)
{
    bool up = true;
    for (const McuCaptureRecord &r : records) {
        if (r.event != McuCaptureFrame) {
            up = r.event == McuCaptureLinkDown;
            break;
        }
    }
    const bool beginsInside = up;
    size_t connections = up ? 1 : 0;
    bool anyFrame = false;
    std::vector<Step> steps;
    std::vector<std::string> notes;
    const uint64_t firstNs = records.empty() ? 0 : records.front().monotonicNs;
    uint64_t lastNs = firstNs;

    for (size_t i = 0; i < records.size(); ++i) {
        const McuCaptureRecord &r = records[i];
        const std::string record = "record " + std::to_string(i + 1);
        // A clock that steps back (an edited capture) makes no gap rather than a negative one.
        if (r.monotonicNs >= lastNs + LongPauseNs)
            notes.push_back(record + ": comes " + std::to_string((r.monotonicNs - lastNs) / 1000000000u)
                            + " s after the record before it (--speed or --as-fast-as-possible shorten the wait)");
        lastNs = std::max(lastNs, r.monotonicNs);
        Step s;
        s.record = i + 1;
        s.atNs = lastNs - firstNs;
        s.by = r.direction;
        s.connection = up ? connections - 1 : connections;
        if (r.event == McuCaptureLinkUp) {
            if (up) {
                *error = sourceName + ": " + record + ": the link comes up while it is already up";
                return false;
            }
            up = true;
            s.kind = Step::Connect;
            ++connections;
        } else if (r.event == McuCaptureLinkDown) {
            if (!up) {
                notes.push_back(record + ": the link goes down while it is down; nothing to do");
                continue;
            }
            up = false;
            s.kind = Step::Disconnect;
        } else if (r.direction == McuCaptureOut) {
            std::string bad = launcherFrameError(r.bytes, r.fullLength);
            if (bad.empty() && r.keptLength != r.fullLength)
                bad = "only " + std::to_string(r.keptLength) + " of the launcher's " + std::to_string(r.fullLength)
                      + " bytes kept";
            if (!bad.empty()) {
                *error = sourceName + ": " + record + ": " + bad;
                return false;
            }
            s.kind = up ? Step::Expect : Step::Unheard;
            s.bytes.assign(r.bytes, r.bytes + r.keptLength);
        } else {
            if (!up) {
                *error = sourceName + ": " + record + ": a frame of the MCU service's while the link is down";
                return false;
            }
            s.kind = Step::Send;
            s.keptLength = r.keptLength;
            s.bytes.assign(r.bytes, r.bytes + r.keptLength);
            s.bytes.resize(r.fullLength, 0);
            if (r.keptLength < r.fullLength)
                notes.push_back(record + ": " + std::to_string(r.keptLength) + " of its " + std::to_string(r.fullLength)
                                + " bytes were kept; the rest go out as zeros");
        }
        anyFrame = anyFrame || r.event == McuCaptureFrame;
        steps.push_back(std::move(s));
    }
    if (!anyFrame) {
        *error = sourceName + ": no frame of the MCU link in its " + std::to_string(records.size()) + " records";
        return false;
    }
    m_steps = std::move(steps);
    m_beginsInside = beginsInside;
    m_connections = connections;
    m_records = records.size();
    m_notes = std::move(notes);
    return true;
}

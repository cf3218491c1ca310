#include "capturesession.h"

#include <mcuframes.h>
#include <mcuwords.h>

#include <algorithm>

namespace {

const uint64_t SecondNs = 1000000000ull;
// Pauses from this long on are worth a word before they are waited out.
const uint64_t LongPauseNs = 60 * SecondNs;
// Longer pauses are played as this long.
const uint64_t LongestPauseNs = 3600 * SecondNs;
const size_t MaxNotes = 100;

} // namespace

// The state of one pass through the records; the checking pass and every
// playing pass go through the same one, so they cannot disagree.
struct CaptureSession::Walk {
    bool up = true;
    size_t connections = 0;
    size_t records = 0;
    uint64_t lastNs = 0;
    uint64_t atNs = 0;
    std::vector<std::string> *notes = nullptr;   // only while checking
    size_t notesLeftOut = 0;

    void note(const std::string &text)
    {
        if (!notes)
            return;
        if (notes->size() < MaxNotes)
            notes->push_back(text);
        else
            ++notesLeftOut;
    }
};

std::vector<unsigned char> CaptureSession::Step::wire() const
{
    std::vector<unsigned char> out(bytes);
    out.resize(std::max<size_t>(fullLength, bytes.size()), 0);
    return out;
}

std::string CaptureSession::duration(uint64_t ns)
{
    const uint64_t s = ns / SecondNs;
    if (s < 60)
        return std::to_string(s) + " s";
    if (s < 3600)
        return std::to_string(s / 60) + " min";
    if (s < 86400)
        return std::to_string(s / 3600) + " h";
    // A year of 365.25 days.
    if (s < 31557600)
        return std::to_string(s / 86400) + " days";
    return std::to_string(s / 31557600) + " years";
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

bool CaptureSession::load(const std::string &path, std::string *error)
{
    m_name = path;
    m_data = nullptr;
    m_size = 0;
    return check(error);
}

bool CaptureSession::loadBytes(const unsigned char *data, size_t size, const std::string &name, std::string *error)
{
    m_name = name;
    m_data = data;
    m_size = size;
    return check(error);
}

bool CaptureSession::open(McuCaptureReader *reader, std::string *error) const
{
    return m_data ? reader->openBytes(m_data, m_size, m_name, error) : reader->open(m_name, error);
}

bool CaptureSession::check(std::string *error)
{
    m_notes.clear();
    m_records = 0;
    m_connections = 0;
    // The first link event tells whether the capture begins inside a connection.
    McuCaptureReader reader;
    if (!open(&reader, error))
        return false;
    McuCaptureRecord r;
    McuCaptureReader::Result result;
    while ((result = reader.next(&r, error)) == McuCaptureReader::Record && r.event == McuCaptureFrame) {
    }
    if (result == McuCaptureReader::Error)
        return false;
    m_beginsInside = result == McuCaptureReader::End || r.event == McuCaptureLinkDown;

    Walk w;
    w.notes = &m_notes;
    if (!walk(&w, [](const Step &) { return true; }, error))
        return false;
    // A capture of link events alone is a session still: the launcher's
    // dump of a service that never answered is one, and plays as the
    // connections it made.
    if (w.records == 0) {
        *error = m_name + ": no record of the MCU link";
        return false;
    }
    if (w.notesLeftOut > 0)
        m_notes.push_back(std::to_string(w.notesLeftOut) + " more notes like these left out");
    m_records = w.records;
    m_connections = w.connections;
    return true;
}

bool CaptureSession::forEachStep(const StepHandler &handler, std::string *error) const
{
    Walk w;
    return walk(&w, handler, error);
}

bool CaptureSession::walk(Walk *w, const StepHandler &handler, std::string *error) const
{
    McuCaptureReader reader;
    if (!open(&reader, error))
        return false;
    w->up = m_beginsInside;
    w->connections = m_beginsInside ? 1 : 0;
    McuCaptureRecord r;
    McuCaptureReader::Result result;
    Step s;
    while ((result = reader.next(&r, error)) == McuCaptureReader::Record) {
        const size_t index = ++w->records;
        const std::string record = "record " + std::to_string(index);
        if (index == 1)
            w->lastNs = r.monotonicNs;
        // A clock that steps back (an edited capture) makes no pause rather than a negative one.
        const uint64_t pauseNs = r.monotonicNs > w->lastNs ? r.monotonicNs - w->lastNs : 0;
        w->lastNs = std::max(w->lastNs, r.monotonicNs);
        s.pauseNs = std::min(pauseNs, LongestPauseNs);
        if (pauseNs > LongestPauseNs)
            w->note(record + ": a pause of " + duration(pauseNs) + ", shown as " + duration(LongestPauseNs));
        else if (pauseNs >= LongPauseNs)
            w->note(record + ": comes " + std::to_string(pauseNs / SecondNs)
                    + " s after the record before it (--speed or --as-fast-as-possible shorten the wait)");
        // Saturates only after some 584 years of played pauses.
        w->atNs = w->atNs > UINT64_MAX - s.pauseNs ? UINT64_MAX : w->atNs + s.pauseNs;
        s.record = index;
        s.atNs = w->atNs;
        s.by = r.direction;
        s.connection = w->up ? w->connections - 1 : w->connections;
        s.bytes.clear();
        s.fullLength = 0;
        if (r.event == McuCaptureLinkUp) {
            if (w->up) {
                *error = m_name + ": " + record + ": the link comes up while it is already up";
                return false;
            }
            w->up = true;
            s.kind = Step::Connect;
            ++w->connections;
        } else if (r.event == McuCaptureLinkDown) {
            if (!w->up) {
                w->note(record + ": the link goes down while it is down; nothing to do");
                continue;
            }
            w->up = false;
            s.kind = Step::Disconnect;
        } else if (r.direction == McuCaptureOut) {
            std::string bad = launcherFrameError(r.bytes, r.fullLength);
            if (bad.empty() && r.keptLength != r.fullLength)
                bad = "only " + std::to_string(r.keptLength) + " of the launcher's " + std::to_string(r.fullLength)
                      + " bytes kept";
            if (!bad.empty()) {
                *error = m_name + ": " + record + ": " + bad;
                return false;
            }
            s.kind = w->up ? Step::Expect : Step::Unheard;
            s.bytes.assign(r.bytes, r.bytes + r.keptLength);
            s.fullLength = r.fullLength;
        } else {
            if (!w->up) {
                *error = m_name + ": " + record + ": a frame of the MCU service's while the link is down";
                return false;
            }
            s.kind = Step::Send;
            s.bytes.assign(r.bytes, r.bytes + r.keptLength);
            s.fullLength = r.fullLength;
            if (r.keptLength < r.fullLength)
                w->note(record + ": " + std::to_string(r.keptLength) + " of its " + std::to_string(r.fullLength)
                        + " bytes were kept; the rest go out as zeros");
        }
        if (!handler(s))
            return true;
    }
    return result == McuCaptureReader::End;
}

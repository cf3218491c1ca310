#include "replaycomparison.h"

#include <mcuframes.h>
#include <mcumessages.h>
#include <mcuwords.h>

#include <algorithm>
#include <map>

void ReplayComparison::expect(size_t connection, size_t record, const std::vector<unsigned char> &frame, bool causeUnseen)
{
    m_expected.push_back({connection, record, FrameDecoder::decode(frame.data(), frame.size()), messageKey(frame), causeUnseen});
    const long owed = ++m_owed[{connection, m_expected.back().key}];
    if (owed == 1)
        ++m_owingMessages[connection];
    if (owed > 0)
        ++m_owedFrames[connection];
}

void ReplayComparison::receive(size_t connection, size_t afterRecord, const DecodedFrame &frame, bool causeUnseen)
{
    m_received.push_back({connection, afterRecord, frame, messageKey(frame.bytes), causeUnseen});
    const long owed = --m_owed[{connection, m_received.back().key}];
    if (owed == 0)
        --m_owingMessages[connection];
    if (owed >= 0)
        --m_owedFrames[connection];
}

const char *ReplayComparison::formReason(const DecodedFrame &frame)
{
    if (frame.name == "MSG_A2M_TIME_CLOCK")
        return "it carries the launcher's clock";
    if (frame.name == "MSG_A2M_VERSION_INFO")
        return "it carries the build's versions";
    return nullptr;
}

std::string ReplayComparison::messageKey(const std::vector<unsigned char> &frame)
{
    if (frame.size() < MCU_NORMAL_MSG_SIZE)
        return std::to_string(frame.size()) + " bytes";
    const uint32_t kind = mcuWordAt(&frame[0]);
    const uint32_t msg = mcuWordAt(&frame[4]);
    if (kind == MCU_FRAME_NORMAL && msg == MSG_A2M_CMD)
        return "command " + std::to_string(mcuWordAt(&frame[8]));
    return "kind " + std::to_string(kind) + " msg " + std::to_string(msg);
}

bool ReplayComparison::sameFrame(const Frame &expected, const Frame &received)
{
    if (expected.decoded.bytes == received.decoded.bytes)
        return true;
    return formReason(expected.decoded) && expected.decoded.wellFormed && received.decoded.wellFormed;
}

bool ReplayComparison::allArrived(size_t connection) const
{
    const auto owing = m_owingMessages.find(connection);
    return owing == m_owingMessages.end() || owing->second == 0;
}

size_t ReplayComparison::owed(size_t connection) const
{
    const auto owed = m_owedFrames.find(connection);
    return owed == m_owedFrames.end() ? 0 : owed->second;
}

namespace {

const size_t None = size_t(-1);

// Received frames in arrival order, with the first one not yet paired: each
// frame is passed over once however often the queue is asked.
struct Queue {
    std::vector<size_t> frames;
    size_t next = 0;

    size_t first(const std::vector<bool> &taken)
    {
        while (next < frames.size() && taken[frames[next]])
            ++next;
        return next < frames.size() ? frames[next] : None;
    }
};

// The received frames of one connection and message: all of them, the
// well-formed ones (a partner for any frame compared by form), and those of
// each content (a partner for an equal one).
struct Group {
    Queue all;
    Queue wellFormed;
    std::map<std::vector<unsigned char>, Queue> equal;
};

} // namespace

std::vector<ReplayComparison::Entry> ReplayComparison::entries() const
{
    std::map<std::pair<size_t, std::string>, Group> groups;
    for (size_t r = 0; r < m_received.size(); ++r) {
        Group &group = groups[{m_received[r].connection, m_received[r].key}];
        group.all.frames.push_back(r);
        if (m_received[r].decoded.wellFormed)
            group.wellFormed.frames.push_back(r);
        group.equal[m_received[r].decoded.bytes].frames.push_back(r);
    }

    std::vector<size_t> partner(m_expected.size(), None);   // expected -> received
    std::vector<bool> taken(m_received.size(), false);
    // Equal frames pair first, then the rest of each message in order.
    for (const bool equalOnly : {true, false}) {
        for (size_t e = 0; e < m_expected.size(); ++e) {
            const Frame &x = m_expected[e];
            const auto found = groups.find({x.connection, x.key});
            if (partner[e] != None || found == groups.end())
                continue;
            Group &group = found->second;
            size_t r = None;
            if (!equalOnly) {
                r = group.all.first(taken);
            } else if (formReason(x.decoded) && x.decoded.wellFormed) {
                r = group.wellFormed.first(taken);
            } else {
                const auto same = group.equal.find(x.decoded.bytes);
                r = same == group.equal.end() ? None : same->second.first(taken);
            }
            if (r != None) {
                partner[e] = r;
                taken[r] = true;
            }
        }
    }

    std::vector<Entry> out;
    for (size_t e = 0; e < m_expected.size(); ++e) {
        const Frame &x = m_expected[e];
        Entry entry;
        entry.record = x.record;
        entry.captured = x.decoded.text;
        if (partner[e] == None) {
            entry.verdict = x.causeUnseen ? NotCompared : Missing;
        } else {
            const Frame &y = m_received[partner[e]];
            entry.replayed = y.decoded.text;
            entry.verdict = sameFrame(x, y) ? Matched : Different;
            entry.byForm = formReason(x.decoded);
            entry.sameBytes = x.decoded.bytes == y.decoded.bytes;
        }
        out.push_back(entry);
    }
    for (size_t r = 0; r < m_received.size(); ++r) {
        if (taken[r])
            continue;
        Entry entry;
        entry.verdict = m_received[r].causeUnseen ? NotCompared : Extra;
        entry.record = m_received[r].record;
        entry.replayOnly = true;
        entry.replayed = m_received[r].decoded.text;
        out.push_back(entry);
    }
    // A frame that came after record N is listed after N's own.
    std::stable_sort(out.begin(), out.end(), [](const Entry &a, const Entry &b) {
        return a.record != b.record ? a.record < b.record : !a.replayOnly && b.replayOnly;
    });
    return out;
}

std::string ReplayComparison::line(const Entry &e)
{
    const std::string place = e.replayOnly ? (e.record == 0 ? "before record 1" : "after record " + std::to_string(e.record))
                                           : "record " + std::to_string(e.record);
    switch (e.verdict) {
    case Matched:
        if (!e.sameBytes)
            return "== " + place + ": matched by form (" + e.byForm + "): " + e.captured + "; now " + e.replayed;
        return "== " + place + ": matched " + e.captured;
    case Missing:
        return "!! " + place + ": missing " + e.captured;
    case Extra:
        return "!! " + place + ": extra " + e.replayed;
    case Different:
        return "!! " + place + ": different: the capture has " + e.captured + "; the launcher sent " + e.replayed;
    case NotCompared:
        return "-- " + place + ": not compared, its cause may lie before the capture began: "
               + (e.replayOnly ? e.replayed : e.captured);
    }
    return std::string();
}

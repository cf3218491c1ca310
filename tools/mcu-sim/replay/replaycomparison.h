#ifndef REPLAYCOMPARISON_H
#define REPLAYCOMPARISON_H

#include "framedecoder.h"

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

// What the launcher sends while a capture is replayed, against what it sent in
// the capture. Frames are matched connection by connection and by message
// (kind and msg, and the command number of MSG_A2M_CMD frames), not by their
// place in the stream: replies and the frames the platform's threads send may
// interleave differently from one run to the next without anything being wrong.
// Within a message, frames pair with an equal one first, then in order.
//
// Two frames are compared by their form, not their values, because their
// content is the moment's rather than the capture's:
//   MSG_A2M_TIME_CLOCK    carries the launcher's clock when it was sent: after
//                         an unset MCU time it is today's time of day on
//                         1 January 2024, after a radio time today's date;
//   MSG_A2M_VERSION_INFO  carries the platform's customer, SDK and date
//                         versions, which differ from build to build.
// Such frames match when both have the layout the simulator's decoder checks
// (lead byte, text lengths, zeros after the data), or are byte for byte equal.
//
// In a connection the capture joins midway (a flight recorder's ring), frames
// of either end from before the capture's first MCU frame of it may answer
// things the capture does not hold: those that find no partner are listed as
// not compared rather than counted as missing or extra.
//
// Pure code; single-threaded.
class ReplayComparison
{
public:
    enum Verdict { Matched, Missing, Extra, Different, NotCompared };

    struct Entry {
        Verdict verdict = Matched;
        // The capture's record of the expected frame; for a frame only the
        // replay has, the last record played before it came (0: none yet).
        size_t record = 0;
        bool replayOnly = false;   // Extra, or a NotCompared frame of the replay
        std::string captured;      // decoded, as in the capture; empty when replayOnly
        std::string replayed;      // decoded, as the launcher sent it now; empty for Missing
        const char *byForm = nullptr;  // why the frames were compared by form, if they were
        bool sameBytes = false;        // the two frames are byte for byte equal
    };

    void expect(size_t connection, size_t record, const std::vector<unsigned char> &frame, bool causeUnseen);
    void receive(size_t connection, size_t afterRecord, const DecodedFrame &frame, bool causeUnseen);

    // True when, for every message, the connection has received at least as
    // many frames as the capture expects of it.
    bool allArrived(size_t connection) const;
    // Frames the connection has been told to expect and has not received,
    // counted per message, so that an extra frame of one message does not
    // make up for a missing one of another.
    size_t owed(size_t connection) const;

    // Every frame of both sides with its verdict, in capture order.
    std::vector<Entry> entries() const;
    // One report line: "== record 7: matched ...", "!! after record 6: extra ...".
    static std::string line(const Entry &entry);

    // What makes a frame's content the moment's, or nullptr when it is compared byte for byte.
    static const char *formReason(const DecodedFrame &frame);
    // The message a frame is matched by, e.g. "command 186" or "kind 2 msg 195".
    static std::string messageKey(const std::vector<unsigned char> &frame);

private:
    struct Frame {
        size_t connection;
        size_t record;   // expected: its record; received: the last record played before it
        DecodedFrame decoded;
        std::string key;
        bool causeUnseen;
    };

    static bool sameFrame(const Frame &expected, const Frame &received);

    std::vector<Frame> m_expected;   // capture order
    std::vector<Frame> m_received;   // arrival order
    // Per connection and message: frames expected less frames received.
    std::map<std::pair<size_t, std::string>, long> m_owed;
    // Per connection: the messages of which frames are still owed.
    std::map<size_t, size_t> m_owingMessages;
    // Per connection: the sum of the positive counts in m_owed.
    std::map<size_t, size_t> m_owedFrames;
};

#endif // REPLAYCOMPARISON_H

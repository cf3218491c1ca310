#ifndef CAPTUREPLAYER_H
#define CAPTUREPLAYER_H

#include "capturesession.h"
#include "mcusimulator.h"
#include "replaycomparison.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// Plays the MCU service's side of a checked capture against a launcher through
// the simulator, and compares what the launcher sends with what it sent in the
// capture. The MCU's frames go out in capture order, each at its original
// distance from the start of its connection (scaled by the pace), or as soon
// as the launcher has answered all but a few of the frames before it.
// Where the capture's connection ends, the replay ends it too, once the
// launcher's frames of that connection are in (or five seconds have passed):
// the launcher then reconnects, and the replay waits for it where the capture
// shows the link coming up. The launcher's frames count for the connection
// they arrive on; those of a connection after the capture's last are not
// compared. A launcher that drops or renews its connection
// where the capture does not stops the replay, which says where.
//
// Single-threaded: everything runs inside run(), on the caller's thread.
class CapturePlayer
{
public:
    enum { Passed = 0, Failed = 1 };

    struct Pace {
        double speed = 1.0;             // the capture's spacing is divided by this
        bool asFastAsPossible = false;  // no spacing at all
    };

    CapturePlayer(McuSimulator &sim, const CaptureSession &session, Pace pace, McuSimulator::LineSink sink);
    ~CapturePlayer();
    CapturePlayer(const CapturePlayer &) = delete;
    CapturePlayer &operator=(const CapturePlayer &) = delete;

    // Plays the whole capture, then prints the report, sourceName naming the
    // capture. Passed only when nothing is missing, extra or different and the
    // whole capture was played.
    int run(const std::string &sourceName);

private:
    typedef std::chrono::steady_clock Clock;

    // False, with the reason, when the replay cannot go on.
    bool play(const CaptureSession::Step &step, std::string *why);
    // Waits for the replay's connection of that number; atNs is when the
    // capture has it begin, the time its steps are spaced from.
    bool awaitConnection(size_t connection, uint64_t atNs, std::string *why);
    void awaitReplies(size_t connection);
    // Without spacing: keeps reading until few enough of the launcher's
    // frames are owed to send the step's frame.
    void awaitRoom(const CaptureSession::Step &step);
    // Keeps reading until the step's time has come (at once when no spacing).
    void waitFor(const CaptureSession::Step &step);
    void onFrame(const DecodedFrame &frame);
    bool report(const std::string &sourceName, bool whole);

    McuSimulator &m_sim;
    const CaptureSession &m_session;
    Pace m_pace;
    McuSimulator::LineSink m_sink;
    ReplayComparison m_comparison;
    Clock::time_point m_anchor;   // when the connection being played came up in the replay
    uint64_t m_anchorNs;          // ... and in the capture
    size_t m_lastRecord;          // the last record played: sent, connected or disconnected
    uint64_t m_heard;             // frames received from the launcher
    // False once the launcher left owed frames unanswered for a whole reply
    // wait in this connection: the rest of it goes out without waiting.
    bool m_awaitingAnswers;
    // False while, in a connection the capture joins midway, no MCU frame has gone out yet.
    bool m_causesSeen;
};

#endif // CAPTUREPLAYER_H

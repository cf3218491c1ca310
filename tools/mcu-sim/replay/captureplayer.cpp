#include "captureplayer.h"

#include "inboundcommand.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

namespace {

// A fresh launcher starts its services before it connects; under emulation
// that takes a while.
const int ConnectTimeoutMs = 30000;
// How long the launcher's frames of a connection may take to arrive before the
// connection is ended (or the replay ends) without them.
const int ReplyWaitMs = 5000;
// How long frames are still taken after the end, and before each drop when
// the capture's pauses are not kept, so that an extra frame shows.
const int QuietMs = 500;
// Without spacing, at most this many of the launcher's frames are owed when
// the next MCU frame goes out. The launcher gives up on a frame its socket
// cannot take within 50 ms, and a default send buffer is charged a frame's
// kernel overhead too: it holds some 278 frames of 16 bytes and about 160 of
// 264. However long the simulator is kept off the CPU, the launcher's socket
// then holds no more than this many of its frames, well under full, while the
// window is still wide enough that the replay never waits out one answer's
// round trip.
const size_t OwedWindow = 64;

std::string plural(size_t n, const char *thing)
{
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

std::string speedText(double speed)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", speed);
    return text;
}

} // namespace

CapturePlayer::CapturePlayer(McuSimulator &sim, const CaptureSession &session, Pace pace, McuSimulator::LineSink sink)
    : m_sim(sim)
    , m_session(session)
    , m_pace(pace)
    , m_sink(std::move(sink))
    , m_anchorNs(0)
    , m_lastRecord(0)
    , m_heard(0)
    , m_awaitingAnswers(true)
    , m_causesSeen(!session.beginsInsideConnection())
{
}

CapturePlayer::~CapturePlayer()
{
    m_sim.observeFrames(nullptr);
}

int CapturePlayer::run(const std::string &sourceName)
{
    m_sim.observeFrames([this](const DecodedFrame &frame) { onFrame(frame); });
    const std::string pace = m_pace.asFastAsPossible ? "as fast as possible"
                             : m_pace.speed == 1.0   ? "at the capture's pace"
                                                     : "at " + speedText(m_pace.speed) + " times the capture's pace";
    m_sink(McuSimulator::Info, "-- replaying " + sourceName + ": " + std::to_string(m_session.recordCount()) + " records, "
                                   + plural(m_session.connectionCount(), "connection") + ", " + pace);
    for (const std::string &note : m_session.notes())
        m_sink(McuSimulator::Info, "-- " + note);

    std::string why;
    size_t stoppedAt = 0;
    if (m_session.beginsInsideConnection()) {
        m_sink(McuSimulator::Info, "-- the capture begins inside a connection");
        // The launcher opens every connection with its greeting, which such a
        // capture does not hold: heard before the first MCU frame goes out, it
        // is not taken for an answer to it.
        if (awaitConnection(0, 0, &why))
            m_sim.pumpUntil([this] { return m_heard > 0; }, ReplyWaitMs);
        else
            stoppedAt = 1;
    }
    if (stoppedAt == 0) {
        size_t last = 0;
        const bool read = m_session.forEachStep([&](const CaptureSession::Step &step) {
            last = step.record;
            if (play(step, &why))
                return true;
            stoppedAt = step.record;
            return false;
        }, &why);
        if (!read)
            stoppedAt = last + 1;
    }
    const bool whole = stoppedAt == 0;
    if (!whole)
        m_sink(McuSimulator::Result, "!! replay stopped at record " + std::to_string(stoppedAt) + ": " + why + "; records "
                                         + std::to_string(stoppedAt) + " to " + std::to_string(m_session.recordCount())
                                         + " were not played");
    if (whole && m_sim.isConnected() && m_sim.connections() == m_session.connectionCount()) {
        awaitReplies(m_session.connectionCount() - 1);
        m_sim.pumpUntil([] { return false; }, QuietMs);
    }
    m_sim.observeFrames(nullptr);
    return report(sourceName, whole) ? Passed : Failed;
}

bool CapturePlayer::play(const CaptureSession::Step &step, std::string *why)
{
    const std::string record = "record " + std::to_string(step.record);
    switch (step.kind) {
    case CaptureSession::Step::Connect:
        if (!awaitConnection(step.connection, step.atNs, why))
            return false;
        // The capture holds this connection from its start.
        m_causesSeen = true;
        break;
    case CaptureSession::Step::Disconnect:
        waitFor(step);
        awaitReplies(step.connection);
        // Without the capture's pauses nothing else gives a late frame its time.
        if (m_pace.asFastAsPossible)
            m_sim.pumpUntil([] { return false; }, QuietMs);
        if (step.by == McuCaptureOut)
            m_sink(McuSimulator::Info, "-- " + record + ": the launcher closed the connection in the capture");
        if (m_sim.isConnected() && m_sim.connections() == step.connection + 1)
            m_sim.disconnect();
        break;
    case CaptureSession::Step::Send: {
        waitFor(step);
        awaitRoom(step);
        if (!m_sim.isConnected()) {
            *why = "the launcher's connection ended before it, where the capture shows it up";
            return false;
        }
        if (m_sim.connections() != step.connection + 1) {
            *why = "the launcher connected anew before it, where the capture shows no new connection";
            return false;
        }
        const std::vector<unsigned char> wire = step.wire();
        if (!m_sim.send(wire, why))
            return false;
        m_sink(McuSimulator::Traffic, "-> " + record + ": " + InboundCommand::shown(wire));
        m_causesSeen = true;
        break;
    }
    case CaptureSession::Step::Expect:
        m_comparison.expect(step.connection, step.record, step.bytes, step.connection == 0 && !m_causesSeen);
        return true;
    case CaptureSession::Step::Unheard:
        m_sink(McuSimulator::Info, "-- " + record + ": not compared, the launcher sent it while the link was down: "
                                       + FrameDecoder::decode(step.bytes.data(), step.bytes.size()).text);
        return true;
    }
    m_lastRecord = step.record;
    return true;
}

bool CapturePlayer::awaitConnection(size_t connection, uint64_t atNs, std::string *why)
{
    if (!m_sim.pumpUntil([this, connection] { return m_sim.connections() > connection; }, ConnectTimeoutMs)) {
        *why = "the launcher did not connect within " + std::to_string(ConnectTimeoutMs) + " ms";
        return false;
    }
    m_anchor = Clock::now();
    m_anchorNs = atNs;
    m_awaitingAnswers = true;
    return true;
}

void CapturePlayer::awaitReplies(size_t connection)
{
    m_sim.pumpUntil([this, connection] { return m_comparison.allArrived(connection) || !m_sim.isConnected(); },
                    ReplyWaitMs);
}

void CapturePlayer::awaitRoom(const CaptureSession::Step &step)
{
    if (!m_pace.asFastAsPossible || !m_awaitingAnswers)
        return;
    // Waits as long as frames keep coming; a launcher that has stopped
    // answering is reported by the comparison, not waited on frame by frame.
    while (m_comparison.owed(step.connection) > OwedWindow && m_sim.isConnected()) {
        const uint64_t heard = m_heard;
        if (!m_sim.pumpUntil([this, heard] { return m_heard != heard || !m_sim.isConnected(); }, ReplyWaitMs)) {
            m_sink(McuSimulator::Info, "-- record " + std::to_string(step.record) + ": the launcher sent nothing for "
                                           + std::to_string(ReplyWaitMs) + " ms with "
                                           + plural(m_comparison.owed(step.connection), "frame")
                                           + " owed; the rest of the connection goes out without waiting");
            m_awaitingAnswers = false;
            return;
        }
    }
}

void CapturePlayer::waitFor(const CaptureSession::Step &step)
{
    if (m_pace.asFastAsPossible) {
        // Still reads what is waiting, so the launcher never finds the socket full.
        m_sim.pumpUntil([] { return false; }, 0);
        return;
    }
    // Bounded (at about 30 years) so that no capture's gap overflows the clock.
    const double ns = std::min(double(step.atNs > m_anchorNs ? step.atNs - m_anchorNs : 0) / m_pace.speed, 1e18);
    const Clock::time_point due = m_anchor + std::chrono::nanoseconds(int64_t(ns));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
    m_sim.pumpUntil([] { return false; }, left > 0 ? int(std::min<int64_t>(left, INT_MAX)) : 0);
}

void CapturePlayer::onFrame(const DecodedFrame &frame)
{
    ++m_heard;
    // The launcher greets again after the capture's last connection ended: nothing to compare with.
    const size_t connection = size_t(m_sim.connections() - 1);
    if (connection < m_session.connectionCount())
        m_comparison.receive(connection, m_lastRecord, frame, connection == 0 && !m_causesSeen);
}

bool CapturePlayer::report(const std::string &sourceName, bool whole)
{
    size_t count[5] = {};
    size_t byForm = 0;
    for (const ReplayComparison::Entry &e : m_comparison.entries()) {
        ++count[e.verdict];
        byForm += e.verdict == ReplayComparison::Matched && !e.sameBytes;
        const bool fine = e.verdict == ReplayComparison::Matched || e.verdict == ReplayComparison::NotCompared;
        m_sink(fine ? McuSimulator::Info : McuSimulator::Result, ReplayComparison::line(e));
    }
    const bool passed = whole && count[ReplayComparison::Missing] + count[ReplayComparison::Extra]
                                         + count[ReplayComparison::Different] == 0;
    std::string summary = std::to_string(count[ReplayComparison::Matched]) + " matched (" + std::to_string(byForm)
                          + " of them by form), " + std::to_string(count[ReplayComparison::Missing]) + " missing, "
                          + std::to_string(count[ReplayComparison::Extra]) + " extra, "
                          + std::to_string(count[ReplayComparison::Different]) + " different";
    if (count[ReplayComparison::NotCompared] > 0)
        summary += ", " + std::to_string(count[ReplayComparison::NotCompared]) + " not compared";
    if (!whole)
        summary += ", not played to the end";
    m_sink(McuSimulator::Result, (passed ? "== replay of " + sourceName + " passed: " : "!! replay of " + sourceName + " FAILED: ")
                                     + summary);
    return passed;
}

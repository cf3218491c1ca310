#include "framereassembler.h"

#include "mcuframesink.h"

#include <mcuwords.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct FrameHead {
    enum Verdict { NeedMore, Complete, Discard } verdict;
    size_t take;     // Complete: bytes handed on and consumed
    bool record;     // Complete: a long frame, handed on as a 268-byte record
    bool capped;     // Complete: a long frame longer than that record
};

// What the buffered bytes at p amount to. The len word is compared in 64 bits
// against the buffered count, so no value of it can wrap the arithmetic; a len
// with the top bit set would be negative to the peer and is as bad as 0.
FrameHead inspect(const unsigned char *p, size_t avail)
{
    if (avail < 8)
        return {FrameHead::NeedMore, 0, false, false};
    if (mcuWordAt(p) == MCU_FRAME_NORMAL) {
        if (avail < MCU_NORMAL_MSG_SIZE)
            return {FrameHead::NeedMore, 0, false, false};
        return {FrameHead::Complete, MCU_NORMAL_MSG_SIZE, false, false};
    }
    // Until the whole header is here, the len word is not.
    if (avail < MCU_LONG_HEADER_SIZE)
        return {FrameHead::NeedMore, 0, false, false};
    const uint64_t len = mcuWordAt(p + 8);
    if (len == 0 || (len & 0x80000000u))
        return {FrameHead::Discard, 0, false, false};
    if (uint64_t(avail) < len)
        return {FrameHead::NeedMore, 0, false, false};
    if (len > MCU_FRAME_MAX)
        return {FrameHead::Complete, MCU_FRAME_MAX, true, true};
    return {FrameHead::Complete, size_t(len), true, false};
}

} // namespace

FrameReassembler::FrameReassembler()
    : m_len(0)
    , m_wireLength(0)
{
    std::memset(m_buf, 0, sizeof m_buf);
    std::memset(m_frame, 0, sizeof m_frame);
}

void FrameReassembler::feed(const unsigned char *bytes, size_t n, McuFrameSink &sink)
{
    while (n > 0) {
        const size_t chunk = std::min<size_t>(n, MCU_FRAME_MAX);
        append(bytes, chunk, sink);
        bytes += chunk;
        n -= chunk;
    }
}

void FrameReassembler::reset()
{
    m_len = 0;
}

void FrameReassembler::append(const unsigned char *bytes, size_t n, McuFrameSink &sink)
{
    // A frame that never completes (len beyond the buffer) is given up only
    // here, silently, together with everything else buffered.
    if (n > sizeof m_buf - m_len) {
        m_len = 0;
        ++m_faults.overflowed;
    }
    // With nothing pending, frames are cut straight from the read and only
    // an incomplete tail is kept.
    const unsigned char *stream = bytes;
    size_t avail = n;
    if (m_len > 0) {
        std::memcpy(m_buf + m_len, bytes, n);
        m_len += n;
        stream = m_buf;
        avail = m_len;
    }

    size_t pos = 0, cut = 0;
    bool discard = false;
    for (;;) {
        const FrameHead head = inspect(stream + pos, avail - pos);
        if (head.verdict == FrameHead::NeedMore)
            break;
        if (head.verdict == FrameHead::Discard) {
            discard = true;
            break;
        }
        m_cuts[cut++] = {stream + pos, head.take, head.record ? uint64_t(mcuWordAt(stream + pos + 8)) : head.take};
        pos += head.take;
        if (cut == CutBatch) {
            handOn(sink, cut);
            cut = 0;
        }
    }
    handOn(sink, cut);
    if (discard) {
        // The only way back into step with the peer: start afresh.
        m_len = 0;
        ++m_faults.discarded;
        std::printf("=================>>>MainAppProtocolComm over size: %d\n", int(MCU_RECV_BUF_SIZE));
        std::fflush(stdout);
        return;
    }
    m_len = avail - pos;
    std::memmove(m_buf, stream + pos, m_len);
}

// The cut frames to the sink: all at once as they came, then each as a
// record of its own.
void FrameReassembler::handOn(McuFrameSink &sink, size_t count)
{
    if (count == 0)
        return;
    sink.framesCut(m_cuts, count);
    for (size_t i = 0; i < count; ++i) {
        const McuFrameCut &c = m_cuts[i];
        m_wireLength = c.wireLength;
        // A normal message in a copy of fixed length, which the compiler
        // makes two moves.
        if (c.kept == MCU_NORMAL_MSG_SIZE && mcuWordAt(c.bytes) == MCU_FRAME_NORMAL) {
            std::memcpy(m_frame, c.bytes, MCU_NORMAL_MSG_SIZE);
        } else {
            std::memcpy(m_frame, c.bytes, c.kept);
            std::memset(m_frame + c.kept, 0, sizeof m_frame - c.kept);
            if (c.wireLength > MCU_FRAME_MAX) {
                mcuPutWord(m_frame + 8, MCU_FRAME_MAX);
                ++m_faults.capped;
            }
        }
        sink.onMcuFrame(m_frame);
    }
}

#ifndef FRAMEREASSEMBLER_H
#define FRAMEREASSEMBLER_H

#include "mcuframesink.h"

#include <mcuframes.h>

#include <cstddef>
#include <cstdint>

// Cuts the MCU service's byte stream into frames: 16-byte normal messages and
// long frames delimited by their len word, handed on as 268-byte records.
// Pure code: no I/O, no locks, no allocation. One reader thread feeds it.
class FrameReassembler
{
public:
    FrameReassembler();

    // Appends what one read returned and hands every frame it completes to
    // sink, in stream order, before returning. Larger inputs are taken as
    // successive reads of at most MCU_FRAME_MAX bytes.
    void feed(const unsigned char *bytes, size_t n, McuFrameSink &sink);

    // Forgets everything buffered (a new connection starts a new stream).
    void reset();

    size_t buffered() const { return m_len; }

    // The length on the wire of the frame being handed to the sink: its len
    // word before any cap, 16 for a normal message. Valid during onMcuFrame().
    // The sink's framesCut() gets every frame first, as it came.
    uint64_t handedWireLength() const { return m_wireLength; }

    // Frames that were not what the peer meant, counted since construction.
    struct Faults {
        uint64_t capped = 0;      // len beyond the 268-byte record: its head handed on
        uint64_t discarded = 0;   // len zero or negative: everything buffered dropped
        uint64_t overflowed = 0;  // a read that did not fit: everything buffered dropped
    };
    const Faults &faults() const { return m_faults; }

private:
    void append(const unsigned char *bytes, size_t n, McuFrameSink &sink);
    void handOn(McuFrameSink &sink, size_t count);

    // The frames cut from one append and not yet handed on; a read of 268
    // bytes of normal messages makes at most 17.
    enum { CutBatch = 32 };
    McuFrameCut m_cuts[CutBatch];

    // Bytes not yet consumed are m_buf[0 .. m_len); the rest is stale.
    alignas(4) unsigned char m_buf[MCU_RECV_BUF_SIZE];
    size_t m_len;
    // Every frame is handed on from here, so the sink always sees an aligned
    // record, zero after a long frame's own bytes.
    alignas(4) unsigned char m_frame[MCU_FRAME_MAX];
    uint64_t m_wireLength;
    Faults m_faults;
};

#endif // FRAMEREASSEMBLER_H

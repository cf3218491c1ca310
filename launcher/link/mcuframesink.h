#ifndef MCUFRAMESINK_H
#define MCUFRAMESINK_H

#include <cstddef>
#include <cstdint>

// A frame as it came on the wire: its first kept bytes (at most 268) of
// wireLength, where the reassembly found them.
struct McuFrameCut {
    const unsigned char *bytes;
    size_t kept;
    uint64_t wireLength;
};

// Receiver of complete inbound MCU frames. Runs on the MCU reader thread.
class McuFrameSink
{
public:
    // frame is exactly one complete frame: 16 bytes for a normal message, a
    // 268-byte record (zero after the frame's own bytes) for any other kind. It
    // is overwritten as soon as this returns: never keep the pointer.
    virtual void onMcuFrame(unsigned char *frame) = 0;

    // The next count frames, as they came, before any of them reaches
    // onMcuFrame(): all of a read's frames at once, in stream order, unless
    // a read completes more than a batch. The bytes stay valid until the
    // last of them has reached onMcuFrame().
    virtual void framesCut(const McuFrameCut * /*cuts*/, size_t /*count*/) {}

protected:
    ~McuFrameSink() = default;
};

#endif // MCUFRAMESINK_H

#ifndef MCUFRAMESINK_H
#define MCUFRAMESINK_H

// Receiver of complete inbound MCU frames. Runs on the MCU reader thread.
class McuFrameSink
{
public:
    // frame is exactly one complete frame: 16 bytes for a normal message, a
    // 268-byte record (zero after the frame's own bytes) for any other kind. It
    // is overwritten as soon as this returns: never keep the pointer.
    virtual void onMcuFrame(unsigned char *frame) = 0;

protected:
    ~McuFrameSink() = default;
};

#endif // MCUFRAMESINK_H

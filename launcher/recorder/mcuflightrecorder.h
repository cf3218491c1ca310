#ifndef MCUFLIGHTRECORDER_H
#define MCUFLIGHTRECORDER_H

#include "mcucapture.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <pthread.h>

// The MCU link's last 1024 frames in both directions and its link events,
// always on. A fixed ring inside the object: nothing is allocated per frame.
// The reader records on its own thread, senders under the send lock they
// already hold; one short mutex orders them, and a snapshot holds it only for
// the copy. Any thread.
class McuFlightRecorder
{
public:
    enum { Capacity = 1024 };

    // When something crossed the link: the monotonic time to the
    // nanosecond, the wall time to the clock's tick. Frames of one read share
    // one stamp: they arrived together, and a clock read per frame would cost
    // more than the recording itself.
    struct Stamp {
        uint64_t monotonicNs;
        struct timespec wall;
        static Stamp now();
    };

    McuFlightRecorder();
    ~McuFlightRecorder();
    McuFlightRecorder(const McuFlightRecorder &) = delete;
    McuFlightRecorder &operator=(const McuFlightRecorder &) = delete;

    // Keeps the first kept bytes (at most 268) of a frame fullLength long.
    void frame(McuCaptureDirection direction, const unsigned char *bytes, size_t kept, uint32_t fullLength, const Stamp &at);
    void event(McuCaptureEvent event, McuCaptureDirection direction);

    // Copies the ring into out (room for Capacity records), oldest first by
    // their stamps, and returns how many there are. *serial is the count of
    // records made so far, so a caller can tell whether anything is new since
    // its last copy.
    size_t snapshot(McuCaptureRecord *out, uint64_t *serial) const;

private:
    McuCaptureRecord &nextLocked();

    mutable pthread_mutex_t m_mutex;
    McuCaptureRecord m_ring[Capacity]; // under m_mutex
    uint64_t m_count;                  // under m_mutex: records made; the newest is m_count - 1
};

#endif // MCUFLIGHTRECORDER_H

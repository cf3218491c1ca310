#include "mcuflightrecorder.h"

#include <algorithm>
#include <cstring>

McuFlightRecorder::Stamp McuFlightRecorder::Stamp::now()
{
    Stamp s;
    struct timespec mono;
    clock_gettime(CLOCK_MONOTONIC, &mono);
    s.monotonicNs = uint64_t(mono.tv_sec) * 1000000000u + uint64_t(mono.tv_nsec);
    // The wall time is for people reading a capture, and a tick (4 ms here)
    // is precise enough for them at a seventh of the cost of a precise read;
    // spacing and order come from the monotonic time.
    clock_gettime(CLOCK_REALTIME_COARSE, &s.wall);
    return s;
}

McuFlightRecorder::McuFlightRecorder()
    : m_count(0)
{
    pthread_mutex_init(&m_mutex, nullptr);
}

McuFlightRecorder::~McuFlightRecorder()
{
    pthread_mutex_destroy(&m_mutex);
}

// Caller holds m_mutex.
McuCaptureRecord &McuFlightRecorder::nextLocked()
{
    return m_ring[m_count++ % Capacity];
}

void McuFlightRecorder::frame(McuCaptureDirection direction, const unsigned char *bytes, size_t kept, uint32_t fullLength,
                              const Stamp &at)
{
    kept = std::min<size_t>(kept, McuCaptureMaxKept);
    pthread_mutex_lock(&m_mutex);
    McuCaptureRecord &r = nextLocked();
    r.direction = direction;
    r.event = McuCaptureFrame;
    r.monotonicNs = at.monotonicNs;
    r.wall = at.wall;
    r.fullLength = fullLength;
    r.keptLength = uint32_t(kept);
    std::memcpy(r.bytes, bytes, kept);
    pthread_mutex_unlock(&m_mutex);
}

void McuFlightRecorder::event(McuCaptureEvent event, McuCaptureDirection direction)
{
    const Stamp at = Stamp::now();
    pthread_mutex_lock(&m_mutex);
    McuCaptureRecord &r = nextLocked();
    r.direction = direction;
    r.event = event;
    r.monotonicNs = at.monotonicNs;
    r.wall = at.wall;
    r.fullLength = 0;
    r.keptLength = 0;
    pthread_mutex_unlock(&m_mutex);
}

size_t McuFlightRecorder::snapshot(McuCaptureRecord *out, uint64_t *serial) const
{
    pthread_mutex_lock(&m_mutex);
    const size_t n = size_t(std::min<uint64_t>(m_count, Capacity));
    const size_t oldest = size_t((m_count - n) % Capacity);
    // Two runs at most: from the oldest to the end of the array, then from its start.
    const size_t first = std::min(n, size_t(Capacity) - oldest);
    std::memcpy(static_cast<void *>(out), &m_ring[oldest], first * sizeof *out);
    std::memcpy(static_cast<void *>(out + first), &m_ring[0], (n - first) * sizeof *out);
    *serial = m_count;
    pthread_mutex_unlock(&m_mutex);
    // The ring holds records in the order they were made, and a sender may be
    // held up between its send and its record while the reader records the
    // reply. Their stamps keep cause before effect; in stamp order the records
    // are nearly sorted already, so an insertion sort is quick, stable and
    // needs no memory.
    for (size_t i = 1; i < n; ++i) {
        for (size_t j = i; j > 0 && out[j].monotonicNs < out[j - 1].monotonicNs; --j)
            std::swap(out[j], out[j - 1]);
    }
    return n;
}

#include "mcuflightrecorder.h"

#include <checkedclock.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>

bool McuFlightRecorder::Stamp::now(Stamp *s)
{
    int64_t mono;
    struct timespec wall;
    // The wall time is for people reading a capture, and a tick (4 ms here)
    // is precise enough for them at a seventh of the cost of a precise read;
    // spacing and order come from the monotonic time.
    // A clock that cannot be read is reported once; the records keep the last
    // time read.
    if (!clockNs(CLOCK_MONOTONIC, &mono) || !checkedClockGetTime(CLOCK_REALTIME_COARSE, &wall))
        return false;
    s->monotonicNs = uint64_t(mono);
    s->wall = wall;
    return true;
}

McuFlightRecorder::Stamp McuFlightRecorder::stampNoEarlierThan(uint64_t floorNs, const Stamp &last)
{
    Stamp s = last;
    Stamp::now(&s);
    s.monotonicNs = std::max({s.monotonicNs, floorNs, last.monotonicNs});
    return s;
}

// Both rings in one anonymous mapping rather than in the object: its pages
// are the kernel's shared zero page until written, so the start pays neither
// for zeroing 640 kB nor for memory the link has not used yet. A record of
// all zero bytes is an empty one.
McuFlightRecorder::McuFlightRecorder()
{
    void *rings = ::mmap(nullptr, RingsBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (rings == MAP_FAILED)
        throw std::bad_alloc();
    // Heads first: the mapping starts on a page, so every head is on a line
    // of its own.
    m_reader.heads = static_cast<Head *>(rings);
    m_sender.heads = m_reader.heads + Capacity;
    m_reader.tails = reinterpret_cast<Tail *>(m_sender.heads + Capacity);
    m_sender.tails = m_reader.tails + Capacity;
    pthread_mutex_init(&m_senderMutex, nullptr);
    pthread_mutex_init(&m_lendMutex, nullptr);
    pthread_cond_init(&m_ringReturned, nullptr);
}

McuFlightRecorder::~McuFlightRecorder()
{
    pthread_cond_destroy(&m_ringReturned);
    pthread_mutex_destroy(&m_lendMutex);
    pthread_mutex_destroy(&m_senderMutex);
    ::munmap(m_reader.heads, RingsBytes);
}

void McuFlightRecorder::fillHead(Head &h, McuCaptureDirection direction, McuCaptureEvent event, const Stamp &at)
{
    h.monotonicNs = at.monotonicNs;
    h.wall = at.wall;
    h.fullLength = 0;
    h.keptLength = 0;
    h.direction = direction;
    h.event = event;
}

// The record whole again, zero after its kept bytes.
void McuFlightRecorder::load(const Ring &ring, size_t slot, McuCaptureRecord &out)
{
    const Head &h = ring.heads[slot];
    out.direction = h.direction;
    out.event = h.event;
    out.monotonicNs = h.monotonicNs;
    out.wall = h.wall;
    out.fullLength = h.fullLength;
    out.keptLength = h.keptLength;
    const size_t kept = std::min<size_t>(h.keptLength, McuCaptureMaxKept);
    std::memcpy(out.bytes, h.bytes, std::min<size_t>(kept, HeadBytes));
    if (kept > HeadBytes)
        std::memcpy(out.bytes + HeadBytes, ring.tails[slot].bytes, kept - HeadBytes);
    std::memset(out.bytes + kept, 0, McuCaptureMaxKept - kept);
}

// Reader thread. A tie with a send's stamp, which a coarse clock makes
// likely, is broken towards the send: the bytes read now may answer it.
void McuFlightRecorder::stampRead()
{
    m_readStamp = stampNoEarlierThan(m_sendStampNs.load(std::memory_order_acquire) + 1, m_readStamp);
    m_readStampNs.store(m_readStamp.monotonicNs, std::memory_order_release);
}

// Reader thread: the ring is being copied, and is the reader's again once
// the copy is made, a few hundred microseconds at most.
void McuFlightRecorder::waitForCopy()
{
    pthread_mutex_lock(&m_lendMutex);
    for (;;) {
        int lent = Lent;
        if (m_ringState.compare_exchange_strong(lent, Held, std::memory_order_acquire, std::memory_order_relaxed))
            break;
        pthread_cond_wait(&m_ringReturned, &m_lendMutex);
    }
    pthread_mutex_unlock(&m_lendMutex);
}

// Reader thread.
void McuFlightRecorder::readerEvent(McuCaptureEvent event, McuCaptureDirection direction)
{
    stampRead();
    holdReaderRing();
    fillHead(m_reader.heads[m_readerCount++ % Capacity], direction, event, m_readStamp);
    lendReaderRing();
}

// Caller holds the send lock. Any inbound frame that this one answers was
// recorded before it was handed on, so its stamp is seen here.
McuFlightRecorder::Stamp McuFlightRecorder::stampSend()
{
    m_sendStamp = stampNoEarlierThan(m_readStampNs.load(std::memory_order_acquire) + 1, m_sendStamp);
    m_sendStampNs.store(m_sendStamp.monotonicNs, std::memory_order_release);
    return m_sendStamp;
}

// Caller holds the send lock, so the ring is in stamp order.
void McuFlightRecorder::frameOut(const unsigned char *bytes, size_t kept, uint32_t fullLength, const Stamp &at)
{
    kept = std::min<size_t>(kept, McuCaptureMaxKept);
    pthread_mutex_lock(&m_senderMutex);
    const size_t slot = m_senderCount++ % Capacity;
    Head &h = m_sender.heads[slot];
    fillHead(h, McuCaptureOut, McuCaptureFrame, at);
    h.fullLength = fullLength;
    h.keptLength = uint32_t(kept);
    std::memcpy(h.bytes, bytes, std::min<size_t>(kept, HeadBytes));
    if (kept > HeadBytes)
        std::memcpy(m_sender.tails[slot].bytes, bytes + HeadBytes, kept - HeadBytes);
    pthread_mutex_unlock(&m_senderMutex);
}

// Caller holds the send lock.
void McuFlightRecorder::senderEvent(McuCaptureEvent event, McuCaptureDirection direction)
{
    const Stamp at = stampSend();
    pthread_mutex_lock(&m_senderMutex);
    fillHead(m_sender.heads[m_senderCount++ % Capacity], direction, event, at);
    pthread_mutex_unlock(&m_senderMutex);
}

// The reader holds its ring only to record one read's frames, which calls
// nothing and never waits: the ring is lent again within microseconds, unless
// the reader lost the CPU meanwhile.
size_t McuFlightRecorder::snapshot(McuCaptureRecord *out, uint64_t *serial)
{
    for (;;) {
        int lent = Lent;
        if (m_ringState.compare_exchange_strong(lent, Copying, std::memory_order_acquire, std::memory_order_relaxed))
            break;
        const struct timespec moment = {0, 20000};
        nanosleep(&moment, nullptr);
    }
    const size_t n = merge(out, serial);
    pthread_mutex_lock(&m_lendMutex);
    m_ringState.store(Lent, std::memory_order_release);
    pthread_cond_signal(&m_ringReturned);
    pthread_mutex_unlock(&m_lendMutex);
    return n;
}

// Caller took the lent reader ring, so it is still. Each ring is in stamp
// order already; merged from the newest back, the newest Capacity records of
// the two are all there is to copy, and every one of them is still in its
// ring. A frame and what answers it never share a stamp (see stampRead() and
// stampSend()), so a tie is between frames that crossed independently.
size_t McuFlightRecorder::merge(McuCaptureRecord *out, uint64_t *serial)
{
    pthread_mutex_lock(&m_senderMutex);
    uint64_t in = m_readerCount, sent = m_senderCount;
    const uint64_t inOldest = in - std::min<uint64_t>(in, Capacity);
    const uint64_t sentOldest = sent - std::min<uint64_t>(sent, Capacity);
    const size_t n = size_t(std::min<uint64_t>((in - inOldest) + (sent - sentOldest), Capacity));
    for (size_t at = n; at > 0; --at) {
        const Head *inbound = in > inOldest ? &m_reader.heads[(in - 1) % Capacity] : nullptr;
        const Head *outbound = sent > sentOldest ? &m_sender.heads[(sent - 1) % Capacity] : nullptr;
        if (inbound && (!outbound || inbound->monotonicNs >= outbound->monotonicNs)) {
            load(m_reader, (in - 1) % Capacity, out[at - 1]);
            --in;
        } else {
            load(m_sender, (sent - 1) % Capacity, out[at - 1]);
            --sent;
        }
    }
    *serial = m_readerCount + m_senderCount;
    pthread_mutex_unlock(&m_senderMutex);
    return n;
}

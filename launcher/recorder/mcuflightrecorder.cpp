#include "mcuflightrecorder.h"

#include <algorithm>
#include <new>
#include <sys/mman.h>

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
    pthread_cond_init(&m_snapshotTaken, nullptr);
}

McuFlightRecorder::~McuFlightRecorder()
{
    pthread_cond_destroy(&m_snapshotTaken);
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

// Reader thread. Whatever happened while it waited, its next frames are
// stamped afresh.
void McuFlightRecorder::holdReaderRing()
{
    pthread_mutex_lock(&m_lendMutex);
    m_readerHolds = true;
    pthread_mutex_unlock(&m_lendMutex);
    m_stampAged = true;
}

// Reader thread. A snapshot that waits for the reader takes the ring itself.
void McuFlightRecorder::lendReaderRing()
{
    pthread_mutex_lock(&m_lendMutex);
    m_readerHolds = false;
    pthread_cond_signal(&m_snapshotTaken);
    pthread_mutex_unlock(&m_lendMutex);
}

// Reader thread.
void McuFlightRecorder::restamp()
{
    m_sendsSeen = m_sendsBegun.load(std::memory_order_acquire);
    m_readStamp = Stamp::now();
    m_framesOnStamp = 0;
    m_stampAged = false;
}

// Reader thread, between reads: the ring is still, so the copy is whole.
void McuFlightRecorder::serveSnapshot()
{
    pthread_mutex_lock(&m_lendMutex);
    if (m_wantedOut) {
        m_servedCount = merge(m_wantedOut, &m_servedSerial);
        m_wantedOut = nullptr;
        m_snapshotWanted.store(false, std::memory_order_relaxed);
        pthread_cond_signal(&m_snapshotTaken);
    }
    pthread_mutex_unlock(&m_lendMutex);
}

// Reader thread.
void McuFlightRecorder::readerEvent(McuCaptureEvent event, McuCaptureDirection direction)
{
    fillHead(m_reader.heads[m_readerCount++ % Capacity], direction, event, Stamp::now());
}

// Caller holds the send lock. The reader stamps afresh once it sees the
// count move, which is before any reply to this frame can reach it.
McuFlightRecorder::Stamp McuFlightRecorder::stampSend()
{
    const Stamp at = Stamp::now();
    m_sendsBegun.fetch_add(1, std::memory_order_release);
    return at;
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
    const Stamp at = Stamp::now();
    pthread_mutex_lock(&m_senderMutex);
    fillHead(m_sender.heads[m_senderCount++ % Capacity], direction, event, at);
    pthread_mutex_unlock(&m_senderMutex);
}

size_t McuFlightRecorder::snapshot(McuCaptureRecord *out, uint64_t *serial)
{
    pthread_mutex_lock(&m_lendMutex);
    bool asked = false;
    if (m_readerHolds) {
        asked = true;
        m_wantedOut = out;
        m_snapshotWanted.store(true, std::memory_order_relaxed);
        while (m_wantedOut && m_readerHolds)
            pthread_cond_wait(&m_snapshotTaken, &m_lendMutex);
    }
    size_t n;
    if (asked && !m_wantedOut) {
        n = m_servedCount;
        *serial = m_servedSerial;
    } else {
        // Never held, or lent before the reader read again: the ring stays
        // still while we hold the mutex.
        m_wantedOut = nullptr;
        m_snapshotWanted.store(false, std::memory_order_relaxed);
        n = merge(out, serial);
    }
    pthread_mutex_unlock(&m_lendMutex);
    return n;
}

// Caller holds m_lendMutex, and the reader ring is still: the caller is the
// reader thread, or the ring is lent. Each ring is in stamp order already;
// merged from the newest back, the newest Capacity records of the two are all
// there is to copy, and every one of them is still in its ring. On equal
// stamps the sent frame goes first: the reader stamps afresh once a send has
// begun, so an inbound frame that shares a sent frame's stamp came after it.
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

#include "mcuflightrecorder.h"

#include <algorithm>
#include <new>
#include <sys/mman.h>

namespace {

const size_t RingBytes = McuFlightRecorder::Capacity * sizeof(McuCaptureRecord);

void fill(McuCaptureRecord &r, McuCaptureDirection direction, McuCaptureEvent event, const McuFlightRecorder::Stamp &at)
{
    r.direction = direction;
    r.event = event;
    r.monotonicNs = at.monotonicNs;
    r.wall = at.wall;
    r.fullLength = 0;
    r.keptLength = 0;
}

} // namespace

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
// for zeroing 600 kB nor for memory the link has not used yet. A record of
// all zero bytes is an empty one.
McuFlightRecorder::McuFlightRecorder()
{
    void *rings = ::mmap(nullptr, 2 * RingBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (rings == MAP_FAILED)
        throw std::bad_alloc();
    m_readerRing = static_cast<McuCaptureRecord *>(rings);
    m_senderRing = m_readerRing + Capacity;
    pthread_mutex_init(&m_senderMutex, nullptr);
    pthread_mutex_init(&m_lendMutex, nullptr);
    pthread_cond_init(&m_snapshotTaken, nullptr);
}

McuFlightRecorder::~McuFlightRecorder()
{
    pthread_cond_destroy(&m_snapshotTaken);
    pthread_mutex_destroy(&m_lendMutex);
    pthread_mutex_destroy(&m_senderMutex);
    ::munmap(m_readerRing, 2 * RingBytes);
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
    fill(m_readerRing[m_readerCount++ % Capacity], direction, event, Stamp::now());
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
    McuCaptureRecord &r = m_senderRing[m_senderCount++ % Capacity];
    fill(r, McuCaptureOut, McuCaptureFrame, at);
    r.fullLength = fullLength;
    r.keptLength = uint32_t(kept);
    std::memcpy(r.bytes, bytes, kept);
    pthread_mutex_unlock(&m_senderMutex);
}

// Caller holds the send lock.
void McuFlightRecorder::senderEvent(McuCaptureEvent event, McuCaptureDirection direction)
{
    const Stamp at = Stamp::now();
    pthread_mutex_lock(&m_senderMutex);
    fill(m_senderRing[m_senderCount++ % Capacity], direction, event, at);
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
        const McuCaptureRecord *inbound = in > inOldest ? &m_readerRing[(in - 1) % Capacity] : nullptr;
        const McuCaptureRecord *outbound = sent > sentOldest ? &m_senderRing[(sent - 1) % Capacity] : nullptr;
        if (inbound && (!outbound || inbound->monotonicNs >= outbound->monotonicNs)) {
            out[at - 1] = *inbound;
            --in;
        } else {
            out[at - 1] = *outbound;
            --sent;
        }
    }
    *serial = m_readerCount + m_senderCount;
    pthread_mutex_unlock(&m_senderMutex);
    return n;
}

#ifndef MCUFLIGHTRECORDER_H
#define MCUFLIGHTRECORDER_H

#include "mcucapture.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <pthread.h>

// The MCU link's last 1024 frames in each direction and its link events,
// always on, in two rings of fixed records: nothing is allocated per frame,
// and the kernel supplies the rings' pages, already zero, as they are first
// written, so a new recorder costs the start next to nothing.
//
// The reader ring is the reader thread's: it records inbound frames with
// neither a lock nor an atomic operation. It holds the ring only while it
// records the frames of a read, which calls nothing and never waits, and lends
// it the rest of the time: while it reads, waits, and hands the frames on to
// the sink and the observers, however long they take. A snapshot takes a lent
// ring and copies it. The sender ring is written by whoever holds the link's
// send lock; a short mutex of its own orders it with snapshots. A snapshot
// merges the two by their stamps.
class McuFlightRecorder
{
public:
    enum { Capacity = 1024 };

    // When something crossed the link: the monotonic time to the
    // nanosecond, the wall time to the clock's tick.
    struct Stamp {
        uint64_t monotonicNs;
        struct timespec wall;
        // Reads both clocks into *s. False when one cannot be read: *s is
        // then left as it was, and the first failure is said on stderr.
        static bool now(Stamp *s);
    };

    McuFlightRecorder();
    ~McuFlightRecorder();
    McuFlightRecorder(const McuFlightRecorder &) = delete;
    McuFlightRecorder &operator=(const McuFlightRecorder &) = delete;

    // Reader thread, once the reads of a pass returned and before their
    // frames are recorded: the stamp they all get. It is taken after the
    // bytes were read, so no frame is stamped before its bytes came, and it
    // is later than every send begun by then, so a reply never sorts before
    // its request however coarse the clock.
    void stampRead();

    // Reader thread, around the frames of a read (frameIn): the ring is
    // held, and lent again. Holding it waits only while a snapshot copies it.
    void holdReaderRing()
    {
        int lent = Lent;
        if (!m_ringState.compare_exchange_strong(lent, Held, std::memory_order_acquire, std::memory_order_relaxed))
            waitForCopy();
    }
    void lendReaderRing() { m_ringState.store(Lent, std::memory_order_release); }

    // Reader thread, holding its ring: an inbound frame of the last read as
    // it came, the first kept bytes (at most 268) of fullLength on the wire,
    // stamped by the last stampRead().
    void frameIn(const unsigned char *frame, size_t kept, uint32_t fullLength)
    {
        const size_t at = m_readerCount++ % Capacity;
        Head &h = m_reader.heads[at];
        // The ring is larger than the first-level cache, so each record's
        // lines come from further out. Asked for a few frames ahead, they
        // are there when the frame comes: with a 48 kB first-level cache
        // this halved what a normal message costs.
        __builtin_prefetch(&m_reader.heads[(at + 4) % Capacity], 1);
        h.monotonicNs = m_readStamp.monotonicNs;
        h.wall = m_readStamp.wall;
        h.fullLength = fullLength;
        if (kept > size_t(McuCaptureMaxKept))
            kept = McuCaptureMaxKept;
        h.keptLength = uint32_t(kept);
        h.direction = McuCaptureIn;
        h.event = McuCaptureFrame;
        // The frame is read where it came, so never beyond its kept bytes.
        // Its two usual lengths, a normal message and a full record, are
        // copied in 16-byte pieces that the compiler makes plain vector
        // moves: one copy of 268 bytes at once becomes a string instruction
        // whose start alone costs more than everything else here.
        if (kept >= HeadBytes)
            std::memcpy(h.bytes, frame, HeadBytes);
        else
            std::memcpy(h.bytes, frame, kept);
        if (kept > HeadBytes) {
            const unsigned char *next = m_reader.tails[(at + 2) % Capacity].bytes;
            for (size_t line = 0; line < sizeof(Tail); line += CacheLine)
                __builtin_prefetch(next + line, 1);
            unsigned char *tail = m_reader.tails[at].bytes;
            if (kept == size_t(McuCaptureMaxKept)) {
                constexpr size_t Piece = 16, Pieces = TailBytes / Piece, Rest = TailBytes % Piece;
                for (size_t off = 0; off < Pieces * Piece; off += Piece)
                    std::memcpy(tail + off, frame + HeadBytes + off, Piece);
                std::memcpy(tail + Pieces * Piece, frame + HeadBytes + Pieces * Piece, Rest);
            } else {
                std::memcpy(tail, frame + HeadBytes, kept - HeadBytes);
            }
        }
    }

    // Reader thread, not holding its ring: a link event it saw, stamped now.
    void readerEvent(McuCaptureEvent event, McuCaptureDirection direction);

    // Under the send lock: the stamp of a frame about to go, taken before it
    // leaves and later than every inbound frame recorded by then, so that a
    // reply never sorts before what it answers; and the frame once it went
    // whole.
    Stamp stampSend();
    void frameOut(const unsigned char *bytes, size_t kept, uint32_t fullLength, const Stamp &at);
    // Under the send lock: a link event, stamped now.
    void senderEvent(McuCaptureEvent event, McuCaptureDirection direction);

    // Copies the newest Capacity records of both rings into out (room for
    // Capacity records), oldest first by their stamps, and returns how many
    // there are. *serial is the count of records made so far, so a caller
    // can tell whether anything is new since its last copy. One thread at a
    // time (the dumper), never the reader. It waits at most for the reader to
    // record one read's frames.
    size_t snapshot(McuCaptureRecord *out, uint64_t *serial);

private:
    // A record as a ring keeps it: a head of one cache line, with a normal
    // message's bytes, and the rest of a long frame's bytes apart. A stream
    // of normal messages then writes one line per frame, in a fifth of the
    // memory a whole record would take, so that much more of it stays in
    // the cache; the ring outgrows the first-level cache either way.
    enum : size_t { CacheLine = 64, HeadBytes = MCU_NORMAL_MSG_SIZE, TailBytes = McuCaptureMaxKept - HeadBytes };
    struct alignas(CacheLine) Head {
        uint64_t monotonicNs;
        struct timespec wall;
        uint32_t fullLength;
        uint32_t keptLength;
        unsigned char bytes[HeadBytes];
        McuCaptureDirection direction;
        McuCaptureEvent event;
    };
    struct alignas(CacheLine) Tail {
        unsigned char bytes[TailBytes];
    };
    struct Ring {
        Head *heads;
        Tail *tails;
    };

    enum : size_t { RingsBytes = 2 * Capacity * (sizeof(Head) + sizeof(Tail)) };
    static_assert(sizeof(Head) == CacheLine && sizeof(Tail) == 4 * CacheLine, "a head is one line, a tail four");

    // A head with no bytes: an event, or a frame before its lengths are set.
    static void fillHead(Head &h, McuCaptureDirection direction, McuCaptureEvent event, const Stamp &at);
    static void load(const Ring &ring, size_t slot, McuCaptureRecord &out);
    // now, but never earlier than floorNs nor than last: what a ring's next
    // record is stamped with, given its last record's stamp.
    static Stamp stampNoEarlierThan(uint64_t floorNs, const Stamp &last);
    void waitForCopy();
    size_t merge(McuCaptureRecord *out, uint64_t *serial);

    Ring m_reader;                         // fixed at construction; its records are the reader's, see m_lendMutex
    Ring m_sender;                         // fixed at construction; its records under m_senderMutex

    // The reader's own: written by the reader thread while it holds the
    // ring (or in stampRead(), which a snapshot never reads), read by a
    // snapshot that took the lent ring.
    uint64_t m_readerCount = 0;            // records made; the newest is m_readerCount - 1
    Stamp m_readStamp = {0, {0, 0}};       // the stamp of the frames being recorded

    // Who holds the reader ring: the reader (to record), a snapshot (to copy)
    // or nobody. The reader changes it twice per read, never per frame; on a
    // cache line apart from what it writes per frame.
    enum RingState { Lent, Held, Copying };
    alignas(64) std::atomic<int> m_ringState{Lent};
    // The newest stamp each side gave, for the other side to stay after it.
    std::atomic<uint64_t> m_readStampNs{0};
    std::atomic<uint64_t> m_sendStampNs{0};

    pthread_mutex_t m_senderMutex;         // guards the sender ring's records and m_senderCount
    uint64_t m_senderCount = 0;            // under m_senderMutex: records made
    Stamp m_sendStamp = {0, {0, 0}};       // under the send lock: the sender ring's newest stamp

    // A snapshot hands the ring back, and wakes a reader that waited for it, here.
    pthread_mutex_t m_lendMutex;
    pthread_cond_t m_ringReturned;         // with m_lendMutex: m_ringState left Copying
};

#endif // MCUFLIGHTRECORDER_H

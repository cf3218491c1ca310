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
// The reader ring is the reader thread's alone: it records inbound frames
// with neither a lock nor an atomic operation. It holds the ring while it
// reads and lends it while it waits; a snapshot copies a lent ring itself,
// and one that comes while the reader holds it is copied by the reader at
// its next read. The sender ring is written by whoever holds the link's send
// lock; a short mutex of its own orders it with snapshots. A snapshot merges
// the two by their stamps.
class McuFlightRecorder
{
public:
    enum { Capacity = 1024 };

    // When something crossed the link: the monotonic time to the
    // nanosecond, the wall time to the clock's tick.
    struct Stamp {
        uint64_t monotonicNs;
        struct timespec wall;
        static Stamp now();
    };

    McuFlightRecorder();
    ~McuFlightRecorder();
    McuFlightRecorder(const McuFlightRecorder &) = delete;
    McuFlightRecorder &operator=(const McuFlightRecorder &) = delete;

    // Reader thread: it holds its ring from its start and after each wait,
    // and lends it before each wait and when it ends.
    void holdReaderRing();
    void lendReaderRing();

    // Reader thread, as a read returns bytes: copies the ring for a snapshot
    // that waits for it, and stamps the frames the read completes.
    void readArrived()
    {
        if (m_snapshotWanted.load(std::memory_order_relaxed))
            serveSnapshot();
        if (m_stampAged || m_framesOnStamp >= FramesPerStamp
            || m_sendsBegun.load(std::memory_order_acquire) != m_sendsSeen)
            restamp();
    }

    // Reader thread: an inbound frame of the last read as a sink gets it, a
    // 16-byte normal message or a 268-byte record, of which the first kept
    // bytes are the frame's (at most 268) of fullLength on the wire.
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
        h.keptLength = uint32_t(kept < size_t(McuCaptureMaxKept) ? kept : size_t(McuCaptureMaxKept));
        h.direction = McuCaptureIn;
        h.event = McuCaptureFrame;
        // One of two fixed lengths, in 16-byte pieces that the compiler makes
        // plain vector moves. One copy of the exact length, or of 268 bytes
        // at once, becomes a string instruction whose start alone costs more
        // than everything else here.
        std::memcpy(h.bytes, frame, HeadBytes);
        if (kept > HeadBytes) {
            const unsigned char *next = m_reader.tails[(at + 2) % Capacity].bytes;
            for (size_t line = 0; line < sizeof(Tail); line += CacheLine)
                __builtin_prefetch(next + line, 1);
            constexpr size_t Piece = 16, Pieces = TailBytes / Piece, Rest = TailBytes % Piece;
            unsigned char *tail = m_reader.tails[at].bytes;
            for (size_t off = 0; off < Pieces * Piece; off += Piece)
                std::memcpy(tail + off, frame + HeadBytes + off, Piece);
            std::memcpy(tail + Pieces * Piece, frame + HeadBytes + Pieces * Piece, Rest);
        }
        ++m_framesOnStamp;
    }

    // Reader thread: a link event it saw, stamped now.
    void readerEvent(McuCaptureEvent event, McuCaptureDirection direction);

    // Under the send lock: the stamp of a frame about to go, taken before it
    // leaves so that no reply can be stamped earlier, and the frame once it
    // went whole.
    Stamp stampSend();
    void frameOut(const unsigned char *bytes, size_t kept, uint32_t fullLength, const Stamp &at);
    // Under the send lock: a link event, stamped now.
    void senderEvent(McuCaptureEvent event, McuCaptureDirection direction);

    // Copies the newest Capacity records of both rings into out (room for
    // Capacity records), oldest first by their stamps, and returns how many
    // there are. *serial is the count of records made so far, so a caller
    // can tell whether anything is new since its last copy. One thread at a
    // time (the dumper), never the reader: it may wait for the reader's next
    // read.
    size_t snapshot(McuCaptureRecord *out, uint64_t *serial);

private:
    // Frames of one read share a stamp, and so do the reads of a stream that
    // comes faster than it is read, up to this many frames: a precise clock
    // read costs more than recording a frame. A read after a wait, and the
    // first read after any send began, are stamped afresh, so a frame never
    // carries a time from before its cause.
    enum { FramesPerStamp = 64 };

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
    void restamp();
    void serveSnapshot();
    size_t merge(McuCaptureRecord *out, uint64_t *serial);

    Ring m_reader;                         // fixed at construction; its records are the reader's, see m_lendMutex
    Ring m_sender;                         // fixed at construction; its records under m_senderMutex

    // The reader's own: written by the reader thread, read by a snapshot only
    // while the ring is lent (under m_lendMutex) or by the reader itself.
    uint64_t m_readerCount = 0;            // records made; the newest is m_readerCount - 1
    Stamp m_readStamp = {0, {0, 0}};       // the stamp of the frames being recorded
    unsigned m_framesOnStamp = 0;          // frames recorded with m_readStamp
    uint64_t m_sendsSeen = 0;              // m_sendsBegun when m_readStamp was taken
    bool m_stampAged = true;               // the reader waited since m_readStamp was taken

    // On a cache line apart from what the reader writes per frame.
    alignas(64) std::atomic<uint64_t> m_sendsBegun{0}; // counted up under the send lock before each send;
                                                       // the reader looks at it at each read

    pthread_mutex_t m_senderMutex;         // guards the sender ring's records and m_senderCount; taken after
                                           // m_lendMutex where both are
    uint64_t m_senderCount = 0;            // under m_senderMutex: records made

    // A snapshot and the reader meet here.
    pthread_mutex_t m_lendMutex;           // guards the members below, and the reader's own while it lends them
    pthread_cond_t m_snapshotTaken;        // with m_lendMutex: a waiting snapshot's copy is made, or the ring lent
    bool m_readerHolds = false;            // under m_lendMutex: the reader thread holds its ring
    McuCaptureRecord *m_wantedOut = nullptr; // under m_lendMutex: where the waiting snapshot wants its copy
    size_t m_servedCount = 0;              // under m_lendMutex: the served copy's record count
    uint64_t m_servedSerial = 0;           // under m_lendMutex: the served copy's serial
    std::atomic<bool> m_snapshotWanted{false}; // set and cleared under m_lendMutex; the reader looks at each read
};

#endif // MCUFLIGHTRECORDER_H

#ifndef MCUCAPTURE_H
#define MCUCAPTURE_H

// Captures of the MCU link: classic pcap files of link-layer type USER0 (147),
// written and read through libpcap. Plain C++ and POSIX, no Qt: the link's
// flight recorder and the MCU service simulator both write them.
//
// Every pcap record is a 12-byte pseudo-header followed by the frame's bytes:
//   byte 0      direction, McuCaptureDirection
//   byte 1      event, McuCaptureEvent
//   bytes 2-3   reserved, 0
//   bytes 4-11  CLOCK_MONOTONIC in ns, little-endian: the spacing of the
//               records, since the launcher itself moves the wall clock
// The pcap timestamp is the wall clock. The pcap orig length is 12 + the
// frame's length on the wire, the captured length 12 + the bytes kept (at most
// 268). Link events carry no frame bytes.

#include <mcuframes.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

struct pcap;
struct pcap_dumper;

enum McuCaptureDirection : uint8_t {
    McuCaptureIn = 0,    // MCU service -> launcher
    McuCaptureOut = 1,   // launcher -> MCU service
};

// For a link event the direction names the end that made the change: Out
// when the launcher connected or closed, In when the MCU service side closed.
enum McuCaptureEvent : uint8_t {
    McuCaptureFrame = 0,
    McuCaptureLinkUp = 1,     // connection made
    McuCaptureLinkDown = 2,   // connection ended
};

enum : uint32_t {
    McuCaptureLinkType = 147,            // DLT_USER0
    McuCapturePseudoHeaderSize = 12,
    McuCaptureMaxKept = MCU_FRAME_MAX,   // 268: the longest frame handed on
    // No inbound frame is longer than the launcher's reassembly buffer; an
    // outbound one is as long as a sender made it, and a send's length is an int.
    McuCaptureMaxFrameLength = MCU_RECV_BUF_SIZE,
    McuCaptureMaxOutboundLength = INT32_MAX,
};

// One record. Fixed size, so that a ring of them needs no allocation.
struct McuCaptureRecord {
    McuCaptureDirection direction = McuCaptureIn;
    McuCaptureEvent event = McuCaptureFrame;
    uint64_t monotonicNs = 0;          // CLOCK_MONOTONIC
    struct timespec wall = {0, 0};     // CLOCK_REALTIME; files keep microseconds
    uint32_t fullLength = 0;           // the frame's length on the wire; 0 for an event
    uint32_t keptLength = 0;           // bytes of it in `bytes`; 0 for an event
    unsigned char bytes[McuCaptureMaxKept] = {};

    // Stamped with both clocks now. A frame keeps its first 268 bytes.
    static McuCaptureRecord frame(McuCaptureDirection direction, const unsigned char *data, size_t length);
    static McuCaptureRecord linkEvent(McuCaptureEvent event, McuCaptureDirection direction);
    void stampNow();

    // Empty when the record can be written: a frame keeps 1 to 268 bytes, no
    // more than its length, which is at most 10240 inbound and 2^31 - 1
    // outbound; an event keeps none.
    std::string invalidReason() const;
};

// Writes one capture file. Not thread-safe: one thread owns a writer.
class McuCaptureWriter
{
public:
    McuCaptureWriter();
    ~McuCaptureWriter();
    McuCaptureWriter(const McuCaptureWriter &) = delete;
    McuCaptureWriter &operator=(const McuCaptureWriter &) = delete;

    // Creates or truncates path ("-" is a file name, not standard output).
    bool open(const std::string &path, std::string *error);
    // Writes to an open stream, which the writer then owns; name is used in errors.
    bool openStream(FILE *file, const std::string &name, std::string *error);
    bool isOpen() const { return m_dumper != nullptr; }
    // Appends the record and flushes it to the file, so a crash loses at most
    // the record being written. False, with the reason, for a record that
    // invalidReason() refuses, a writer that is not open, or a failed write.
    bool write(const McuCaptureRecord &record, std::string *error);
    // Waits until what was written is on the disk, not only in the kernel's
    // cache, so that it survives the power going.
    bool sync(std::string *error);
    void close();

private:
    struct pcap *m_pcap;            // the dead handle that describes the file
    struct pcap_dumper *m_dumper;
    std::string m_path;
};

// Reads a capture file record by record, checking each. Errors name the file
// and the record (counted from 1): a truncated file, another link-layer type,
// a wrong pseudo-header, a record longer than a frame.
class McuCaptureReader
{
public:
    enum Result { Record, End, Error };

    McuCaptureReader();
    ~McuCaptureReader();
    McuCaptureReader(const McuCaptureReader &) = delete;
    McuCaptureReader &operator=(const McuCaptureReader &) = delete;

    bool open(const std::string &path, std::string *error);
    // Reads a capture held in memory, named name in errors. The bytes must
    // outlive the reader.
    bool openBytes(const unsigned char *data, size_t size, const std::string &name, std::string *error);
    // After an Error the reader stays at it: every later call gives it again.
    Result next(McuCaptureRecord *record, std::string *error);
    void close();

    // The whole file, or nothing and the error of the first bad record.
    static bool readAll(const std::string &path, std::vector<McuCaptureRecord> *records, std::string *error);

private:
    bool adopt(const std::string &name, std::string *error);

    struct pcap *m_pcap;
    std::string m_path;
    uint64_t m_count;      // records read so far
    std::string m_error;   // sticky, once a record was bad
};

#endif // MCUCAPTURE_H

#include "mcucapture.h"

#include "libpcapheader.h"

#include <checkedclock.h>

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

static_assert(DLT_USER0 == McuCaptureLinkType, "captures use the first private link-layer type");

namespace {

const uint32_t SnapLength = McuCapturePseudoHeaderSize + McuCaptureMaxKept;

void putPseudoHeader(unsigned char *p, const McuCaptureRecord &r)
{
    p[0] = r.direction;
    p[1] = r.event;
    p[2] = 0;
    p[3] = 0;
    for (int i = 0; i < 8; ++i)
        p[4 + i] = static_cast<unsigned char>(r.monotonicNs >> (8 * i));
}

uint64_t littleEndian64(const unsigned char *p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// Empty when the record starts with a pseudo-header of ours.
std::string pseudoHeaderError(const LibpcapRecordHeader &header, const u_char *data)
{
    if (header.microseconds >= 1000000)
        return "a time stamp of " + std::to_string(header.microseconds) + " microseconds past the second";
    if (header.caplen < McuCapturePseudoHeaderSize)
        return "shorter than the pseudo-header (" + std::to_string(header.caplen) + " bytes)";
    if (header.caplen > header.len)
        return std::to_string(header.caplen) + " bytes captured of a record of " + std::to_string(header.len);
    if (data[0] > McuCaptureOut || data[1] > McuCaptureLinkDown || data[2] != 0 || data[3] != 0)
        return "not an MCU link pseudo-header (direction " + std::to_string(data[0]) + ", event "
               + std::to_string(data[1]) + ", reserved " + std::to_string(data[2]) + " " + std::to_string(data[3]) + ")";
    return std::string();
}

} // namespace

McuCaptureRecord McuCaptureRecord::frame(McuCaptureDirection direction, const unsigned char *data, size_t length)
{
    McuCaptureRecord r;
    r.direction = direction;
    r.event = McuCaptureFrame;
    r.fullLength = uint32_t(std::min<size_t>(length, UINT32_MAX));
    r.keptLength = uint32_t(std::min<size_t>(length, McuCaptureMaxKept));
    std::memcpy(r.bytes, data, r.keptLength);
    r.stampNow();
    return r;
}

McuCaptureRecord McuCaptureRecord::linkEvent(McuCaptureEvent event, McuCaptureDirection direction)
{
    McuCaptureRecord r;
    r.direction = direction;
    r.event = event;
    r.stampNow();
    return r;
}

void McuCaptureRecord::stampNow()
{
    // A clock that cannot be read leaves its stamp at 0, never a value it
    // did not set.
    int64_t mono = 0;
    clockNs(CLOCK_MONOTONIC, &mono);
    monotonicNs = uint64_t(mono);
    wall = {0, 0};
    checkedClockGetTime(CLOCK_REALTIME, &wall);
}

std::string McuCaptureRecord::invalidReason() const
{
    if (direction > McuCaptureOut || event > McuCaptureLinkDown)
        return "direction " + std::to_string(direction) + " or event " + std::to_string(event) + " is unknown";
    if (event != McuCaptureFrame)
        return fullLength == 0 && keptLength == 0 ? std::string()
                                                  : "a link event carries " + std::to_string(fullLength) + " frame bytes";
    if (keptLength > McuCaptureMaxKept)
        return std::to_string(keptLength) + " frame bytes kept, more than a frame ("
               + std::to_string(McuCaptureMaxKept) + ")";
    const uint32_t longest = direction == McuCaptureIn ? uint32_t(McuCaptureMaxFrameLength)
                                                       : uint32_t(McuCaptureMaxOutboundLength);
    if (fullLength > longest)
        return "a frame of " + std::to_string(fullLength) + " bytes, longer than any frame of the link ("
               + std::to_string(longest) + ")";
    if (keptLength == 0 || keptLength > fullLength)
        return std::to_string(keptLength) + " bytes kept of a frame of " + std::to_string(fullLength);
    return std::string();
}

McuCaptureWriter::McuCaptureWriter()
    : m_pcap(nullptr)
    , m_dumper(nullptr)
{
}

McuCaptureWriter::~McuCaptureWriter()
{
    close();
}

bool McuCaptureWriter::open(const std::string &path, std::string *error)
{
    close();
    // Opened here rather than by pcap_dump_open, which takes "-" for standard output.
    FILE *file = std::fopen(path.c_str(), "wbe");
    if (!file) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    return openStream(file, path, error);
}

bool McuCaptureWriter::openStream(FILE *file, const std::string &name, std::string *error)
{
    close();
    if (!libpcapHeaderLayoutKnown(error)) {
        *error = name + ": " + *error;
        std::fclose(file);
        return false;
    }
    m_pcap = pcap_open_dead(DLT_USER0, int(SnapLength));
    if (!m_pcap) {
        *error = name + ": libpcap cannot describe the capture";
        std::fclose(file);
        return false;
    }
    m_dumper = pcap_dump_fopen(m_pcap, file);
    if (!m_dumper) {
        *error = name + ": " + pcap_geterr(m_pcap);
        std::fclose(file);
        close();
        return false;
    }
    m_path = name;
    if (pcap_dump_flush(m_dumper) != 0) {
        *error = name + ": " + std::strerror(errno);
        close();
        return false;
    }
    return true;
}

bool McuCaptureWriter::write(const McuCaptureRecord &record, std::string *error)
{
    if (!m_dumper) {
        *error = "no capture file is open";
        return false;
    }
    const std::string invalid = record.invalidReason();
    if (!invalid.empty()) {
        *error = m_path + ": record not written: " + invalid;
        return false;
    }
    unsigned char data[SnapLength];
    putPseudoHeader(data, record);
    std::memcpy(data + McuCapturePseudoHeaderSize, record.bytes, record.keptLength);

    LibpcapRecordHeader header;
    // A pcap file counts its seconds in 32 unsigned bits: to 2106.
    header.seconds = uint32_t(record.wall.tv_sec);
    header.microseconds = uint32_t(record.wall.tv_nsec / 1000);
    header.caplen = McuCapturePseudoHeaderSize + record.keptLength;
    header.len = McuCapturePseudoHeaderSize + record.fullLength;
    LibpcapHeaderStorage storage;
    pcap_dump(reinterpret_cast<u_char *>(m_dumper), toLibpcap(header, &storage), data);
    if (pcap_dump_flush(m_dumper) != 0) {
        *error = m_path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool McuCaptureWriter::sync(std::string *error)
{
    if (!m_dumper) {
        *error = "no capture file is open";
        return false;
    }
    if (pcap_dump_flush(m_dumper) != 0 || ::fsync(fileno(pcap_dump_file(m_dumper))) != 0) {
        *error = m_path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void McuCaptureWriter::close()
{
    if (m_dumper)
        pcap_dump_close(m_dumper);
    m_dumper = nullptr;
    if (m_pcap)
        pcap_close(m_pcap);
    m_pcap = nullptr;
    m_path.clear();
}

McuCaptureReader::McuCaptureReader()
    : m_pcap(nullptr)
    , m_count(0)
{
}

McuCaptureReader::~McuCaptureReader()
{
    close();
}

bool McuCaptureReader::open(const std::string &path, std::string *error)
{
    close();
    // Opened here, with this build's 64-bit offsets, so that a capture past
    // 2 GiB opens even where libpcap itself was built without them.
    FILE *file = std::fopen(path.c_str(), "rbe");
    if (!file) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    char pcapError[PCAP_ERRBUF_SIZE] = "";
    m_pcap = pcap_fopen_offline(file, pcapError);
    if (!m_pcap) {
        std::fclose(file);
        *error = path + ": " + pcapError;
        return false;
    }
    return adopt(path, error);
}

bool McuCaptureReader::openBytes(const unsigned char *data, size_t size, const std::string &name, std::string *error)
{
    close();
    // fmemopen refuses an empty buffer; libpcap then tells a file too short.
    static const unsigned char nothing = 0;
    FILE *file = fmemopen(const_cast<unsigned char *>(size ? data : &nothing), size ? size : 1, "rb");
    if (!file) {
        *error = name + ": " + std::strerror(errno);
        return false;
    }
    if (size == 0)
        std::fgetc(file);
    char pcapError[PCAP_ERRBUF_SIZE] = "";
    m_pcap = pcap_fopen_offline(file, pcapError);
    if (!m_pcap) {
        std::fclose(file);
        *error = name + ": " + pcapError;
        return false;
    }
    return adopt(name, error);
}

bool McuCaptureReader::adopt(const std::string &name, std::string *error)
{
    if (!libpcapHeaderLayoutKnown(error)) {
        *error = name + ": " + *error;
        close();
        return false;
    }
    const int linkType = pcap_datalink(m_pcap);
    if (linkType != DLT_USER0) {
        *error = name + ": link-layer type " + std::to_string(linkType) + " is not the MCU link's ("
                 + std::to_string(DLT_USER0) + ", USER0)";
        close();
        return false;
    }
    m_path = name;
    return true;
}

McuCaptureReader::Result McuCaptureReader::next(McuCaptureRecord *record, std::string *error)
{
    if (!m_error.empty() || !m_pcap) {
        *error = m_pcap ? m_error : "no capture file is open";
        return Error;
    }
    struct pcap_pkthdr *header;
    const u_char *data;
    const int got = pcap_next_ex(m_pcap, &header, &data);
    if (got == PCAP_ERROR_BREAK)
        return End;
    const LibpcapRecordHeader h = got == 1 ? fromLibpcap(header) : LibpcapRecordHeader();
    std::string why = got == 1 ? pseudoHeaderError(h, data) : pcap_geterr(m_pcap);
    if (why.empty()) {
        record->direction = McuCaptureDirection(data[0]);
        record->event = McuCaptureEvent(data[1]);
        record->monotonicNs = littleEndian64(data + 4);
        record->wall.tv_sec = time_t(h.seconds);
        record->wall.tv_nsec = long(h.microseconds) * 1000;
        record->fullLength = h.len - McuCapturePseudoHeaderSize;
        record->keptLength = h.caplen - McuCapturePseudoHeaderSize;
        why = record->invalidReason();
    }
    if (!why.empty()) {
        m_error = m_path + ": record " + std::to_string(m_count + 1) + ": " + why;
        *error = m_error;
        return Error;
    }
    std::memcpy(record->bytes, data + McuCapturePseudoHeaderSize, record->keptLength);
    std::memset(record->bytes + record->keptLength, 0, McuCaptureMaxKept - record->keptLength);
    ++m_count;
    return Record;
}

void McuCaptureReader::close()
{
    if (m_pcap)
        pcap_close(m_pcap);
    m_pcap = nullptr;
    m_path.clear();
    m_count = 0;
    m_error.clear();
}

bool McuCaptureReader::readAll(const std::string &path, std::vector<McuCaptureRecord> *records, std::string *error)
{
    records->clear();
    McuCaptureReader reader;
    if (!reader.open(path, error))
        return false;
    McuCaptureRecord record;
    Result result;
    while ((result = reader.next(&record, error)) == Record)
        records->push_back(record);
    if (result == Error)
        records->clear();
    return result == End;
}

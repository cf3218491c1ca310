#include "libpcapheader.h"

#include <pcap/pcap.h>

#include <cstdio>
#include <cstring>

namespace {

// The two layouts a struct pcap_pkthdr has on Linux: struct timeval of 32-bit
// or of 64-bit fields, then caplen and len. Read unsigned: a library with
// signed 32-bit seconds hands on 2038 to 2106 as negative numbers, and one with
// 64-bit seconds may have sign-extended them from the file's 32 bits.
struct Layout32 {
    uint32_t seconds;
    uint32_t microseconds;
    uint32_t caplen;
    uint32_t len;
};
struct Layout64 {
    uint64_t seconds;
    uint64_t microseconds;
    uint32_t caplen;
    uint32_t len;
};
static_assert(sizeof(Layout64) <= sizeof(LibpcapHeaderStorage::bytes), "storage holds either layout");

enum class Layout { Unknown, Bits32, Bits64 };

const uint32_t ProbeSeconds = 0x7f123456;
const uint32_t ProbeMicroseconds = 0x65432;

template <typename T>
bool holdsProbe(const unsigned char *header)
{
    T h;
    std::memcpy(&h, header, sizeof h);
    return h.seconds == ProbeSeconds && h.microseconds == ProbeMicroseconds && h.caplen == 1 && h.len == 2;
}

// One record of known stamps and lengths, read back through the library.
Layout probe()
{
    struct {
        uint32_t magic = 0xa1b2c3d4;
        uint16_t major = 2, minor = 4;
        int32_t zone = 0;
        uint32_t sigfigs = 0, snaplen = 65535, linktype = DLT_USER0;
        Layout32 record = {ProbeSeconds, ProbeMicroseconds, 1, 2};
        unsigned char byte = 0;
    } file;
    FILE *stream = fmemopen(&file, sizeof file, "rb");
    if (!stream)
        return Layout::Unknown;
    char error[PCAP_ERRBUF_SIZE];
    pcap_t *pcap = pcap_fopen_offline(stream, error);
    if (!pcap) {
        std::fclose(stream);
        return Layout::Unknown;
    }
    struct pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    Layout layout = Layout::Unknown;
    if (pcap_next_ex(pcap, &header, &data) == 1) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(header);
        if (holdsProbe<Layout32>(bytes))
            layout = Layout::Bits32;
        else if (holdsProbe<Layout64>(bytes))
            layout = Layout::Bits64;
    }
    pcap_close(pcap);
    return layout;
}

Layout layout()
{
    static const Layout s_layout = probe();
    return s_layout;
}

template <typename T>
LibpcapRecordHeader read(const unsigned char *bytes)
{
    T h;
    std::memcpy(&h, bytes, sizeof h);
    LibpcapRecordHeader r;
    r.seconds = uint32_t(h.seconds);
    r.microseconds = uint32_t(h.microseconds);
    r.caplen = h.caplen;
    r.len = h.len;
    return r;
}

template <typename T>
void write(const LibpcapRecordHeader &r, unsigned char *bytes)
{
    T h = {r.seconds, r.microseconds, r.caplen, r.len};
    std::memcpy(bytes, &h, sizeof h);
}

} // namespace

bool libpcapHeaderLayoutKnown(std::string *error)
{
    if (layout() != Layout::Unknown)
        return true;
    *error = "libpcap's record header has neither a 32-bit nor a 64-bit time layout";
    return false;
}

LibpcapRecordHeader fromLibpcap(const struct pcap_pkthdr *header)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(header);
    return layout() == Layout::Bits32 ? read<Layout32>(bytes) : read<Layout64>(bytes);
}

const struct pcap_pkthdr *toLibpcap(const LibpcapRecordHeader &header, LibpcapHeaderStorage *storage)
{
    if (layout() == Layout::Bits32)
        write<Layout32>(header, storage->bytes);
    else
        write<Layout64>(header, storage->bytes);
    return reinterpret_cast<const struct pcap_pkthdr *>(storage->bytes);
}

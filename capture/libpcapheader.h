#ifndef LIBPCAPHEADER_H
#define LIBPCAPHEADER_H

// libpcap's record header, crossed in one place. <pcap/pcap.h> declares it
// with this build's struct timeval, and the project builds with 64-bit time on
// every ABI; a 32-bit libpcap built with 32-bit time (Debian 12's armhf one)
// lays it out as 32-bit seconds and microseconds, 16 bytes where this build
// would assume 24. Handing it our layout would have it read stack memory as
// lengths, so the loaded library's layout is found once, by reading a record
// of known stamps back through it, and every header is converted by it.

#include <cstdint>
#include <string>

struct pcap_pkthdr;

// A record header as a classic pcap file holds it: the seconds are an unsigned
// 32-bit count, good until 2106 on every ABI.
struct LibpcapRecordHeader {
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    uint32_t caplen = 0;
    uint32_t len = 0;
};

// Room for the header in either layout, aligned for both.
struct LibpcapHeaderStorage {
    alignas(8) unsigned char bytes[24];
};

// False, with the reason, when the loaded library's layout is neither known
// one; no capture can then be read or written correctly.
bool libpcapHeaderLayoutKnown(std::string *error);

// The header pcap_next_ex handed out. The layout must be known.
LibpcapRecordHeader fromLibpcap(const struct pcap_pkthdr *header);
// The header for pcap_dump, written into storage. The layout must be known.
const struct pcap_pkthdr *toLibpcap(const LibpcapRecordHeader &header, LibpcapHeaderStorage *storage);

#endif // LIBPCAPHEADER_H

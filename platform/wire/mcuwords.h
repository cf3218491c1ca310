#ifndef MCUWORDS_H
#define MCUWORDS_H

// The 32-bit header words of MCU frames, at any alignment. Words travel in the
// processor's own order (little-endian on every target) and are never swapped.
// Plain C++ for the transport and the simulator; Qt code uses QtEndian.

#include <cstdint>
#include <cstring>

inline uint32_t mcuWordAt(const unsigned char *p)
{
    uint32_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

inline void mcuPutWord(unsigned char *p, uint32_t w)
{
    std::memcpy(p, &w, sizeof w);
}

// Some payloads (clock, radio time) carry big-endian numbers of their own.
inline uint32_t mcuBigEndianAt(const unsigned char *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline void mcuPutBigEndian(unsigned char *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

#endif // MCUWORDS_H

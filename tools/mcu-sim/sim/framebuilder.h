#ifndef FRAMEBUILDER_H
#define FRAMEBUILDER_H

#include <cstdint>
#include <string>
#include <vector>

// The frames the MCU service sends to the launcher, byte for byte: 16-byte
// normal messages, and long frames whose 12-byte header (kind, msg, len) is
// followed by len - 12 payload bytes. Payload offsets below are frame offsets.
class FrameBuilder
{
public:
    typedef std::vector<unsigned char> Bytes;

    static Bytes normal(uint32_t msg, uint32_t p1, uint32_t p2);
    // Payloads beyond 256 bytes are cut: the launcher hands on 268 bytes at most.
    static Bytes longFrame(uint32_t kind, uint32_t msg, const Bytes &payload);

    static Bytes keyPressed(uint32_t key, uint32_t state);
    static Bytes eject();
    static Bytes activity(uint32_t command);
    static Bytes getVersion();
    static Bytes mcuType(uint32_t mcuType, uint32_t tunerType);
    // Seconds since the epoch, big-endian at 13..16.
    static Bytes mcuTime(uint32_t seconds);
    // Local hour at 13, minute at 14; not range-checked, on purpose.
    static Bytes rdsTime(unsigned char hour, unsigned char minute);
    // NUL-terminated from 13; longer texts are cut to fit the frame.
    static Bytes mcuVersion(const std::string &text);
    // At most two prefix bytes at 13..14, the number big-endian at 17..20.
    static Bytes uuid(const std::string &prefix, uint32_t number);
    // Six bytes at 12..17, six 16-bit big-endian values at 18..29.
    static Bytes keyStudy(const unsigned char bytes[6], const uint16_t values[6]);

    // "(msg 13078, p1 5, p2 1)" or "(kind 2, msg 12, len 17)", for the log.
    static std::string summary(const Bytes &frame);
};

#endif // FRAMEBUILDER_H

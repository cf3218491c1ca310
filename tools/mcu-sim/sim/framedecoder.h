#ifndef FRAMEDECODER_H
#define FRAMEDECODER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One frame the launcher sent, as the simulator shows and matches it.
struct DecodedFrame {
    std::string name;        // e.g. "A2M_CMD_APP_READY"; NORMAL, LONG, CAN or UNKNOWN when not in the catalogue
    std::string text;        // the whole printable line, name first
    bool wellFormed = true;  // false when a known message's payload breaks its layout
    std::vector<unsigned char> bytes = {};  // the frame as it arrived
};

// Cuts the launcher's byte stream into frames and decodes them. The launcher
// sends 16 bytes when the first word is 1 and 264 bytes otherwise; there is no
// length word, so a stray kind loses sync until the stream is restarted.
// Pure code: no I/O. Any bytes are safe, and at most one frame is buffered.
class FrameDecoder
{
public:
    FrameDecoder();

    // Appends bytes and decodes every frame they complete, in stream order.
    std::vector<DecodedFrame> feed(const unsigned char *bytes, size_t n);

    // Forgets a partial frame (a new connection starts a new stream).
    void reset();

    size_t buffered() const { return m_len; }

    // Decodes one whole frame: 16 bytes for kind 1, 264 for the others.
    // Shorter input is reported as a truncated frame, never read beyond n.
    static DecodedFrame decode(const unsigned char *frame, size_t n);

    // Every name decode() can give, so scenarios can refuse typos.
    static bool isKnownName(const std::string &name);
    // The names of the frames the simulator knows, in catalogue order, and
    // those given to frames outside the catalogue.
    static const std::vector<std::string> &catalogueNames();
    static const std::vector<std::string> &uncataloguedNames();

private:
    static DecodedFrame decodeText(const unsigned char *frame, size_t n);

    alignas(4) unsigned char m_buf[264];
    size_t m_len;
};

#endif // FRAMEDECODER_H

// The launcher's byte stream, cut into reads of sizes the input chooses: every
// frame is whole (16 bytes of kind 1, 264 of any other), decodes the same
// alone as in the stream, under a name the scenarios know, and at most one
// frame's bytes wait.
#include "framedecoder.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FrameDecoder decoder;
    const size_t step = size ? 1 + data[0] % 300 : 1;
    for (size_t at = size ? 1 : 0; at < size; at += step) {
        const size_t n = size - at < step ? size - at : step;
        for (const DecodedFrame &frame : decoder.feed(data + at, n)) {
            const size_t length = frame.bytes.size();
            const uint32_t kind = uint32_t(frame.bytes[0]) | uint32_t(frame.bytes[1]) << 8
                                  | uint32_t(frame.bytes[2]) << 16 | uint32_t(frame.bytes[3]) << 24;
            if (length != (kind == 1 ? 16u : 264u) || !FrameDecoder::isKnownName(frame.name))
                std::abort();
            const DecodedFrame alone = FrameDecoder::decode(frame.bytes.data(), length);
            if (alone.text != frame.text || alone.name != frame.name || alone.wellFormed != frame.wellFormed)
                std::abort();
        }
        if (decoder.buffered() >= 264)
            std::abort();
    }
    // Any prefix of the input decodes as a frame cut short, reading nothing beyond it.
    FrameDecoder::decode(data, size < 264 ? size : 264);
    return 0;
}

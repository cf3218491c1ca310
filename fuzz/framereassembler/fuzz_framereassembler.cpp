// The MCU service's byte stream, cut into reads of sizes the input chooses.
#include "framereassembler.h"
#include "mcuframesink.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class CheckingSink : public McuFrameSink
{
public:
    void onMcuFrame(unsigned char *frame) override
    {
        uint32_t kind;
        std::memcpy(&kind, frame, sizeof kind);
        if (kind == MCU_FRAME_NORMAL)
            return;
        // A long record never claims more than it holds, and is zero after
        // the frame's own bytes. A frame shorter than its header is handed on
        // zeroed from its end, so its len word may be cut too.
        uint32_t len;
        std::memcpy(&len, frame + 8, sizeof len);
        if (len > MCU_FRAME_MAX)
            std::abort();
        for (uint32_t i = len > MCU_LONG_HEADER_SIZE ? len : uint32_t(MCU_LONG_HEADER_SIZE); i < MCU_FRAME_MAX; ++i)
            if (frame[i] != 0)
                std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FrameReassembler reassembler;
    reassembler.reset();
    CheckingSink sink;
    // First byte: the read size pattern; the rest: the stream.
    const size_t step = size ? 1 + data[0] % MCU_FRAME_MAX : 1;
    for (size_t at = size ? 1 : 0; at < size; at += step) {
        const size_t n = size - at < step ? size - at : step;
        reassembler.feed(data + at, n, sink);
        if (reassembler.buffered() > MCU_RECV_BUF_SIZE)
            std::abort();
    }
    return 0;
}

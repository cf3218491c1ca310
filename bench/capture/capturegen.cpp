// Writes captures of the MCU link made for the purpose, to measure and test
// the capture readers with files no car has sent yet:
//   bench_capturegen versions N FILE   N version requests 1 ms apart, each
//                                      answered; begins inside a connection
//   bench_capturegen claimed N FILE    N MCU frames that keep 1 byte of 10240
//   bench_capturegen pause FILE        two requests 2^64 - 501001 ns apart
// A version request and its answer take 336 bytes of capture: 10 MB is about
// 31,000 of them, 100 MB about 312,000.
#include <mcucapture.h>
#include <mcuframes.h>
#include <mcumessages.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void putWord(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

McuCaptureRecord record(McuCaptureDirection direction, const unsigned char *bytes, size_t kept, uint32_t full,
                        uint64_t ns)
{
    McuCaptureRecord r = McuCaptureRecord::frame(direction, bytes, kept);
    r.fullLength = full;
    r.monotonicNs = ns;
    return r;
}

int usage()
{
    std::fputs("usage: bench_capturegen versions|claimed COUNT FILE | pause FILE\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    const std::string mode = argv[1];
    const bool counted = mode == "versions" || mode == "claimed";
    if ((counted && argc != 4) || (!counted && (mode != "pause" || argc != 3)))
        return usage();
    const unsigned long count = counted ? std::strtoul(argv[2], nullptr, 10) : 2;

    unsigned char request[MCU_NORMAL_MSG_SIZE] = {};
    putWord(request, MCU_FRAME_NORMAL);
    putWord(request + 4, MSG_M2A_GET_VERSION);
    // The answer as the launcher lays it out: count byte, customer, SDK and
    // a 13-byte date, zeros to the end of the frame.
    unsigned char answer[MCU_SEND_FRAME_SIZE] = {};
    putWord(answer, MCU_FRAME_LONG);
    putWord(answer + 4, MSG_A2M_VERSION_INFO);
    const unsigned char data[] = {4 + 5 + 16, 4, 'H', 'U', '-', '1', 5, 'S', 'D', 'K', '-', '2', 13,
                                  '2', '0', '2', '4', '0', '1', '0', '1', '.', '1', '2', '0', '0'};
    std::memcpy(answer + 8, data, sizeof data);

    McuCaptureWriter writer;
    std::string error;
    if (!writer.open(argv[counted ? 3 : 2], &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    for (unsigned long i = 0; i < count; ++i) {
        const uint64_t ns = uint64_t(i) * 1000000;
        bool ok;
        if (mode == "versions")
            ok = writer.write(record(McuCaptureIn, request, sizeof request, sizeof request, ns), &error)
                 && writer.write(record(McuCaptureOut, answer, sizeof answer, sizeof answer, ns + 100000), &error);
        else if (mode == "claimed")
            ok = writer.write(record(McuCaptureIn, request, 1, McuCaptureMaxFrameLength, ns), &error);
        else
            ok = writer.write(record(McuCaptureIn, request, sizeof request, sizeof request, i ? UINT64_MAX - 501000 : 0),
                              &error);
        if (!ok) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}

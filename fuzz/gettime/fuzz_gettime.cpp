// getTime() with any arguments: no undefined behaviour, fields in range.
#include "mainappprotocolcomm.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    struct { uint64_t mjd; int32_t a, b; } in;
    if (size < sizeof in)
        return 0;
    std::memcpy(&in, data, sizeof in);
    static tqappframework::MainAppProtocolComm link(McuEndpoint{"/nonexistent/fuzz", "@fuzz-unused"});
    TimeParam t;
    link.getTime(static_cast<unsigned long>(in.mjd), in.a, in.b, &t);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59)
        std::abort();
    return 0;
}

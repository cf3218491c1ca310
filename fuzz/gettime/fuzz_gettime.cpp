// getTime() with any arguments: no undefined behaviour, fields in range.
#include "mainappprotocolcomm.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < sizeof(uint64_t) + 2 * sizeof(int32_t))
        return 0;
    uint64_t mjd;
    int32_t a, b;
    std::memcpy(&mjd, data, sizeof mjd);
    std::memcpy(&a, data + 8, sizeof a);
    std::memcpy(&b, data + 12, sizeof b);
    static tqappframework::MainAppProtocolComm link(McuEndpoint{"/nonexistent/fuzz", "@fuzz-unused"});
    TimeParam t;
    link.getTime(static_cast<unsigned long>(mjd), a, b, &t);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59)
        std::abort();
    return 0;
}

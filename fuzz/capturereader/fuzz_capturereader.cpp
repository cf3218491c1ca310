// A capture file as it comes back from a car: every record the reader takes
// is one the writer can write, and what the writer wrote reads back the same.
// Memory: libpcap's buffer (at most its largest snap length) and one record;
// run with -malloc_limit_mb=1 to hold the reader to that.
#include "mcucapture.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool same(const McuCaptureRecord &a, const McuCaptureRecord &b)
{
    return a.direction == b.direction && a.event == b.event && a.monotonicNs == b.monotonicNs
           && a.wall.tv_sec == b.wall.tv_sec && a.wall.tv_nsec == b.wall.tv_nsec && a.fullLength == b.fullLength
           && a.keptLength == b.keptLength && std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    McuCaptureReader reader;
    std::string error;
    if (!reader.openBytes(data, size, "input", &error))
        return 0;
    char *written = nullptr;
    size_t writtenSize = 0;
    McuCaptureWriter writer;
    if (!writer.openStream(open_memstream(&written, &writtenSize), "copy", &error))
        std::abort();
    std::vector<McuCaptureRecord> records;
    McuCaptureRecord r;
    // A thousand records tell as much as the whole input.
    while (records.size() < 1000 && reader.next(&r, &error) == McuCaptureReader::Record) {
        if (!r.invalidReason().empty() || !writer.write(r, &error))
            std::abort();
        records.push_back(r);
    }
    writer.close();

    McuCaptureReader copy;
    if (!copy.openBytes(reinterpret_cast<unsigned char *>(written), writtenSize, "copy", &error))
        std::abort();
    for (const McuCaptureRecord &expected : records)
        if (copy.next(&r, &error) != McuCaptureReader::Record || !same(r, expected))
            std::abort();
    if (copy.next(&r, &error) != McuCaptureReader::End)
        std::abort();
    copy.close();
    std::free(written);
    return 0;
}

// Any frame the reassembly can hand on, through the whole inbound dispatch and
// its platform calls. The link is not started: replies go nowhere.
#include "mainappprotocolcomm.h"

#include <QLoggingCategory>

#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static tqappframework::MainAppProtocolComm *link = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        std::freopen("/dev/null", "w", stdout);
        return new tqappframework::MainAppProtocolComm(McuEndpoint{"/nonexistent/fuzz", "@fuzz-unused"});
    }();
    // As the reader hands it on: the frame's bytes, zero up to the record's end.
    alignas(4) unsigned char record[MCU_FRAME_MAX] = {};
    std::memcpy(record, data, size < sizeof record ? size : sizeof record);
    link->resolvePacket(record);
    return 0;
}

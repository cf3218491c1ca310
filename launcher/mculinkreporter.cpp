#include "mculinkreporter.h"

#include "diaglog.h"
#include "logcategories.h"
#include "servicestatus.h"
#include "startupcheckpoints.h"

#include <mcumessagenames.h>
#include <mcuwords.h>

#include <QByteArray>

#include <cstring>

namespace {

// One frame as a line of headunit.mcu.frames: name, kind, msg, then p1 and p2
// or the long frame's len and payload in hex. Only called when that category
// is on, so the formatting costs nothing otherwise.
void logFrame(const char *direction, bool inbound, const unsigned char *frame, size_t kept, uint64_t wireLength)
{
    if (kept < 8) {
        qCDebug(lcMcuFrames, "%s %llu bytes, too short for a header: %s", direction, (unsigned long long)wireLength,
                QByteArray(reinterpret_cast<const char *>(frame), int(kept)).toHex(' ').constData());
        return;
    }
    const uint32_t kind = mcuWordAt(frame), msg = mcuWordAt(frame + 4);
    const uint32_t p1 = kept >= 12 ? mcuWordAt(frame + 8) : 0;
    const char *name = inbound ? mcuInboundName(kind, msg, p1) : mcuOutboundName(kind, msg, p1);
    if (!name)
        name = "unknown";
    if (kind == MCU_FRAME_NORMAL && kept >= MCU_NORMAL_MSG_SIZE) {
        qCDebug(lcMcuFrames, "%s %s kind %u msg %u p1 %u p2 %u", direction, name, kind, msg, p1, mcuWordAt(frame + 12));
        return;
    }
    // Inbound long frames carry their length; outbound ones are 264 bytes,
    // zero after their meaningful bytes, which are all a reader needs.
    const size_t header = inbound ? MCU_LONG_HEADER_SIZE : 8;
    size_t end = kept;
    while (!inbound && end > header && frame[end - 1] == 0)
        --end;
    const QByteArray payload = end > header
        ? QByteArray(reinterpret_cast<const char *>(frame + header), int(end - header)).toHex(' ') : QByteArray();
    qCDebug(lcMcuFrames, "%s %s kind %u msg %u len %llu data %s%s", direction, name, kind, msg,
            (unsigned long long)wireLength, payload.constData(), end < kept ? " (zero to the end)" : "");
}

} // namespace

void McuLinkReporter::linkUp(const McuPeerCredentials &peer, unsigned attempts, int64_t downMs)
{
    StartupCheckpoints::reach(StartupCheckpoints::McuConnected);
    ServiceStatus::linkUp();
    if (attempts == 0)
        qCInfo(lcMcu, "connected to the MCU service (pid %d, uid %u, gid %u)", int(peer.pid), unsigned(peer.uid), unsigned(peer.gid));
    else
        qCInfo(lcMcu, "connected to the MCU service (pid %d, uid %u, gid %u) after %lld ms and %u reconnect attempts",
               int(peer.pid), unsigned(peer.uid), unsigned(peer.gid), (long long)downMs, attempts);
}

void McuLinkReporter::greeted()
{
    StartupCheckpoints::reach(StartupCheckpoints::ReadySent);
}

void McuLinkReporter::linkDown(int error)
{
    ServiceStatus::linkDown(0);
    if (error == 0)
        qCInfo(lcMcu, "connection closed by the MCU service; reconnecting");
    else
        qCInfo(lcMcu, "no connection to the MCU service: %s (errno %d); reconnecting", std::strerror(error), error);
}

void McuLinkReporter::linkStillDown(unsigned attempts, int64_t downMs)
{
    ServiceStatus::linkDown(attempts);
    qCInfo(lcMcu, "MCU service still unreachable after %lld s, %u reconnect attempts", (long long)(downMs / 1000), attempts);
}

void McuLinkReporter::ownPathRefused(const char *path, int error)
{
    qCWarning(lcMcu, "cannot bind the link's own path %s: %s (errno %d); connecting without it", path,
              std::strerror(error), error);
}

void McuLinkReporter::peerRefused(const McuPeerCredentials &peer)
{
    qCWarning(lcMcu, "refused MCU peer pid %d uid %u: not an allowed user", int(peer.pid), unsigned(peer.uid));
}

void McuLinkReporter::sendFailed(int error, int len)
{
    qCInfo(lcMcu, "send of %d bytes failed: %s (errno %d)", len, std::strerror(error), error);
}

void McuLinkReporter::malformedFrame(const char *what)
{
    qCWarning(lcMcu, "malformed frame from the MCU service: %s", what);
}

void McuLinkReporter::frameIn(const unsigned char *frame, size_t kept, uint64_t wireLength)
{
    if (lcMcuFrames().isDebugEnabled()) {
        logFrame("in", true, frame, kept, wireLength);
        DiagLog::traceFrame(true, frame, kept);
    }
}

void McuLinkReporter::frameOut(const unsigned char *frame, size_t len)
{
    if (lcMcuFrames().isDebugEnabled()) {
        logFrame("out", false, frame, len, len);
        DiagLog::traceFrame(false, frame, len);
    }
}

void McuLinkReporter::dumpWritten(const char *path, size_t records)
{
    qCInfo(lcMcu, "flight recorder: %zu records written to %s", records, path);
}

void McuLinkReporter::dumpFailed(const char *error)
{
    qCWarning(lcMcu, "flight recorder: dump not written: %s", error);
}

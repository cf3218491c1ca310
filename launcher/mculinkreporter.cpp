#include "mculinkreporter.h"

#include "logcategories.h"
#include "servicestatus.h"
#include "startupcheckpoints.h"

#include <cstring>

void McuLinkReporter::linkUp(const McuPeerCredentials &peer, unsigned attempts, long downMs)
{
    StartupCheckpoints::reach(StartupCheckpoints::McuConnected);
    ServiceStatus::linkUp();
    if (attempts == 0)
        qCInfo(lcMcu, "connected to the MCU service (pid %d, uid %u, gid %u)", int(peer.pid), unsigned(peer.uid), unsigned(peer.gid));
    else
        qCInfo(lcMcu, "connected to the MCU service (pid %d, uid %u, gid %u) after %ld ms and %u reconnect attempts",
               int(peer.pid), unsigned(peer.uid), unsigned(peer.gid), downMs, attempts);
}

void McuLinkReporter::greeted()
{
    StartupCheckpoints::reach(StartupCheckpoints::ReadySent);
    ServiceStatus::ready();
}

void McuLinkReporter::linkDown(int error)
{
    ServiceStatus::linkDown(0);
    if (error == 0)
        qCInfo(lcMcu, "connection closed by the MCU service; reconnecting");
    else
        qCInfo(lcMcu, "no connection to the MCU service: %s (errno %d); reconnecting", std::strerror(error), error);
}

void McuLinkReporter::linkStillDown(unsigned attempts, long downMs)
{
    ServiceStatus::linkDown(attempts);
    qCInfo(lcMcu, "MCU service still unreachable after %ld s, %u reconnect attempts", downMs / 1000, attempts);
}

void McuLinkReporter::peerRefused(const McuPeerCredentials &peer)
{
    qCWarning(lcMcu, "refused MCU peer pid %d uid %u: not an allowed user", int(peer.pid), unsigned(peer.uid));
}

void McuLinkReporter::sendFailed(int error, int len)
{
    qCInfo(lcMcu, "send of %d bytes failed: %s (errno %d)", len, std::strerror(error), error);
}

#include "mculinklog.h"

#include "logcategories.h"

#include <cstring>

void McuLinkLog::linkUp(const McuPeerCredentials &peer, unsigned attempts, long downMs)
{
    if (attempts == 0)
        qCInfo(lcMcu, "connected to the MCU service (pid %d, uid %u, gid %u)", int(peer.pid), unsigned(peer.uid), unsigned(peer.gid));
    else
        qCInfo(lcMcu, "connected to the MCU service (pid %d, uid %u, gid %u) after %ld ms down and %u reconnect attempts",
               int(peer.pid), unsigned(peer.uid), unsigned(peer.gid), downMs, attempts);
}

void McuLinkLog::linkDown(int error)
{
    if (error == 0)
        qCInfo(lcMcu, "connection closed by the MCU service; reconnecting");
    else
        qCInfo(lcMcu, "connection lost: %s (errno %d); reconnecting", std::strerror(error), error);
}

void McuLinkLog::linkStillDown(unsigned attempts, long downMs)
{
    qCInfo(lcMcu, "MCU service still unreachable after %ld s, %u reconnect attempts", downMs / 1000, attempts);
}

void McuLinkLog::peerRefused(const McuPeerCredentials &peer)
{
    qCWarning(lcMcu, "refused MCU peer pid %d uid %u: not an allowed user", int(peer.pid), unsigned(peer.uid));
}

void McuLinkLog::sendFailed(int error, int len)
{
    qCInfo(lcMcu, "send of %d bytes failed: %s (errno %d)", len, std::strerror(error), error);
}

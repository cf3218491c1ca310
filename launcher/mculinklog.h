#ifndef MCULINKLOG_H
#define MCULINKLOG_H

#include "mculinkobserver.h"

// Writes the link's events under the category headunit.mcu. Stateless, so
// any thread may call it.
class McuLinkLog : public McuLinkObserver
{
public:
    void linkUp(const McuPeerCredentials &peer, unsigned attempts, long downMs) override;
    void linkDown(int error) override;
    void linkStillDown(unsigned attempts, long downMs) override;
    void peerRefused(const McuPeerCredentials &peer) override;
    void sendFailed(int error, int len) override;
};

#endif // MCULINKLOG_H

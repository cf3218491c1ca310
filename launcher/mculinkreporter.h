#ifndef MCULINKREPORTER_H
#define MCULINKREPORTER_H

#include "mculinkobserver.h"

// Tells people and the service manager what the MCU link does: events under
// the category headunit.mcu, the link's part of the service status, and the
// start-up checkpoints of the first connection and the ready frame. Any thread.
class McuLinkReporter : public McuLinkObserver
{
public:
    void linkUp(const McuPeerCredentials &peer, unsigned attempts, int64_t downMs) override;
    void greeted() override;
    void linkDown(int error) override;
    void linkStillDown(unsigned attempts, int64_t downMs) override;
    void ownPathRefused(const char *path, int error) override;
    void peerRefused(const McuPeerCredentials &peer) override;
    void sendFailed(int error, int len) override;
    void malformedFrame(const char *what) override;
    void frameIn(const unsigned char *frame, size_t kept, uint64_t wireLength) override;
    void frameOut(const unsigned char *frame, size_t len) override;
    void dumpWritten(const char *path, size_t records) override;
    void dumpFailed(const char *error) override;
};

#endif // MCULINKREPORTER_H

#ifndef MCUDUMPOBSERVER_H
#define MCUDUMPOBSERVER_H

#include <cstddef>

// Hears how the flight recorder's dumps went, on the dumper's thread. The
// recorder knows nothing of the link; the link's observer is one of these.
class McuDumpObserver
{
public:
    virtual void dumpWritten(const char * /*path*/, size_t /*records*/) {}
    virtual void dumpFailed(const char * /*error*/) {}

protected:
    ~McuDumpObserver() = default;
};

#endif // MCUDUMPOBSERVER_H

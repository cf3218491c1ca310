#ifndef MCUENDPOINT_H
#define MCUENDPOINT_H

#include <sys/types.h>

// Where the MCU link lives: the path the launcher binds before connecting, and
// the MCU service's abstract socket name written with a leading '@' (replaced by
// the NUL byte on the wire; the address carries no terminating NUL).
struct McuEndpoint {
    const char *ownPath;
    const char *serviceName;
    // The user ids that may speak for the MCU, ended by -1; null or empty
    // lets any local process that owns the service name do so.
    const long *allowedUids = nullptr;
    // Where the flight recorder leaves its dumps; null: no dumps.
    const char *dumpDir = nullptr;

    bool allowsUid(uid_t uid) const
    {
        if (!allowedUids || allowedUids[0] < 0)
            return true;
        for (const long *p = allowedUids; *p >= 0; ++p) {
            if (uid_t(*p) == uid)
                return true;
        }
        return false;
    }

    // The endpoint the process-wide link uses. Production builds get
    // "/tmp/_zcxjm" and "@silverwren"; test builds of the launcher get
    // "/tmp/hu-NAME.sock" and "@NAME", NAME from HEADUNIT_TEST_MCU_NAME in the
    // environment or else the build tree's, so that runs never meet.
    static McuEndpoint production();
};

#endif // MCUENDPOINT_H

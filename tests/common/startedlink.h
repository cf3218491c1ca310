#ifndef STARTEDLINK_H
#define STARTEDLINK_H

// A link started on names of its own and connected to the MCU service's end,
// for the tests of commands, dispatch and clock. Members go in reverse: the
// link stops before the service end closes.

#include <mainappprotocolcomm.h>

#include "fakemcuservice.h"

class StartedLink
{
public:
    // True once the link has connected.
    bool start()
    {
        if (!service.isListening())
            return false;
        link.Start();
        return service.waitForConnection();
    }

    // One frame as the reader thread hands it on.
    void dispatch(QByteArray frame) { link.resolvePacket(reinterpret_cast<unsigned char *>(frame.data())); }

    FakeMcuService service;
    tqappframework::MainAppProtocolComm link{service.endpoint()};
};

#endif // STARTEDLINK_H

#ifndef STARTEDLINK_H
#define STARTEDLINK_H

// A link started on names of its own and the MCU service's end of its
// connection, for the tests of commands, dispatch and clock.

#include <mainappprotocolcomm.h>

#include "serviceend.h"

class StartedLink : public ServiceEnd
{
public:
    StartedLink()
        : ServiceEnd("link")
    {
    }
    // The link stops before the service end closes, or it would reconnect.
    ~StartedLink()
    {
        link.Stop();
        drop();
    }

    // True once the link has connected.
    bool start()
    {
        if (!listener->isListening())
            return false;
        link.Start();
        return accept();
    }

    // One frame as the reader thread hands it on.
    void dispatch(QByteArray frame) { link.resolvePacket(reinterpret_cast<unsigned char *>(frame.data())); }

    tqappframework::MainAppProtocolComm link{names.endpoint()};
};

#endif // STARTEDLINK_H

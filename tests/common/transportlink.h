#ifndef TRANSPORTLINK_H
#define TRANSPORTLINK_H

// A transport on names of its own, with the sink and observer it reports to,
// and the MCU service's end. Torn down in reverse: the transport stops before
// the service's connection closes, or it would reconnect.

#include <mcutransport.h>

#include "linkevents.h"
#include "recordingsink.h"
#include "serviceend.h"

class TransportLink : public ServiceEnd
{
public:
    // dumpDir and allowedUids as in McuEndpoint; allowedUids outlives the link.
    explicit TransportLink(const char *tag, const QByteArray &dumpDir = QByteArray(), const long *allowedUids = nullptr)
        : ServiceEnd(tag)
        , m_dumpDir(dumpDir)
        , t(sink, endpoint(allowedUids), &observer)
    {
    }
    ~TransportLink()
    {
        t.stop();
        drop();
    }

    // Starts the transport; true once the service has accepted its connection.
    bool start()
    {
        t.start();
        return accept();
    }

    int send(const QByteArray &frame) { return t.sendData(frame.constData(), frame.size()); }

private:
    McuEndpoint endpoint(const long *allowedUids) const
    {
        McuEndpoint e = names.endpoint();
        e.dumpDir = m_dumpDir.isEmpty() ? nullptr : m_dumpDir.constData();
        e.allowedUids = allowedUids;
        return e;
    }

    const QByteArray m_dumpDir;

public:
    RecordingSink sink;
    LinkEvents observer;
    McuTransport t;
};

#endif // TRANSPORTLINK_H

#ifndef MCULINKIO_H
#define MCULINKIO_H

#include <cerrno>
#include <sys/types.h>

// What the link's reader, connection and send path share: the deadline of a
// send and what a read() or send() result means.
namespace McuLinkIo {

enum { SendDeadlineMs = 50 };

// The most reads of 268 bytes the reader makes before it hands their frames
// on, while each read comes back full: the flight recorder's stamp, one clock
// read, is shared by them.
enum { ReadsPerPass = 16 };

// Every reaction of the reader and of the send path starts from here.
enum class IoResult {
    Transferred,  // n > 0 bytes moved
    Retry,        // interrupted before anything moved
    WouldBlock,   // no data yet / no room yet
    EndOfStream,  // the peer closed (read returned 0)
    Failed,       // anything else: the connection is unusable
};

inline IoResult classify(ssize_t n, int err)
{
    if (n > 0)
        return IoResult::Transferred;
    if (n == 0)
        return IoResult::EndOfStream;
    if (err == EINTR)
        return IoResult::Retry;
    if (err == EAGAIN || err == EWOULDBLOCK)
        return IoResult::WouldBlock;
    return IoResult::Failed;
}

} // namespace McuLinkIo

#endif // MCULINKIO_H

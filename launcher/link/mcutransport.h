#ifndef MCUTRANSPORT_H
#define MCUTRANSPORT_H

#include "framereassembler.h"
#include "mcudumper.h"
#include "mcuendpoint.h"
#include "mcuflightrecorder.h"
#include "mcuframesink.h"
#include "mculinkobserver.h"
#include "mcusendlock.h"

#include <atomic>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>

// The stream connection to the MCU service: the socket, the reader thread that
// feeds complete frames to the sink, the send path shared by every thread, and
// recovery when the service is late, dies or restarts. POSIX only.
//
// Threads: start() and stop() belong to one controlling thread; sendData() and
// sendGreeting() may be called from any thread, the reader's sink included; the
// sink runs on the reader thread. Must not be stopped from the sink.
//
// Output: the first failure of an outage prints the MCU link's own line on
// standard output; the reconnect attempts after it go to the observer only,
// so a service that stays away for hours costs no log flood.
class McuTransport : private McuFrameSink
{
public:
    McuTransport(McuFrameSink &sink, const McuEndpoint &endpoint, McuLinkObserver *observer = nullptr);
    ~McuTransport();

    McuTransport(const McuTransport &) = delete;
    McuTransport &operator=(const McuTransport &) = delete;

    // Binds the own path, connects to the service and starts the reader. A
    // service that is not there yet is retried by the reader.
    void start();
    // Wakes and joins the reader and closes the socket; returns close()'s
    // result. Later sends fail.
    int stop();

    // Sends one frame whole within 50 ms of the call: 0 when every byte went
    // out, -1 when the link is down or the frame could not go (nothing of it
    // stays on the wire, or the connection is dropped).
    int sendData(const void *data, int len);

    // Makes a frame of at most 16 bytes the first frame of every connection
    // made from now on, before any sender's, and sends it now as sendData()
    // does (same deadline, same -1). Each connection gets it exactly once,
    // whichever of this call and a connection coming up meanwhile is first.
    // Longer frames are refused with -1.
    int sendGreeting(const void *frame, int len);

    // Writes the flight recorder's rings to the endpoint's dump directory, off
    // the caller's thread. Any thread.
    void requestDump();

private:
    void onMcuFrame(unsigned char *frame) override;
    void framesCut(const McuFrameCut *cuts, size_t count) override;
    void checkFaults(const FrameReassembler::Faults &before);
    enum { GreetingMax = 16 };

    static void *readerEntry(void *self);
    void readerLoop();
    bool reconnect();
    bool waitReadable();
    bool pause(int ms);
    int connectSocket(bool *connected);
    bool admitPeer(int fd, McuPeerCredentials *peer);
    bool goUp(int fd);
    void goDown();
    int lockedSend(const void *data, int len, const struct timespec &deadline);
    int sendWholeLocked(int fd, const unsigned char *p, size_t len, const struct timespec &deadline);

    McuFrameSink &m_sink;              // fixed at construction
    McuEndpoint m_endpoint;            // fixed at construction
    McuLinkObserver *m_observer;       // fixed at construction; may be null
    struct sockaddr_un m_ownAddr;      // fixed at construction
    struct sockaddr_un m_serviceAddr;  // fixed at construction
    socklen_t m_serviceAddrLen;        // fixed at construction

    std::atomic<bool> m_running;       // controlling thread writes, reader reads
    pthread_t m_thread;                // controlling thread
    bool m_threadStarted;              // controlling thread
    int m_wakeFd;                      // controlling thread opens, signals and closes it; the reader polls it

    int m_fd;                          // the reader's socket, connected or not; the controlling thread's
                                       // only while no reader runs
    FrameReassembler m_reassembler;    // reader thread
    McuFlightRecorder m_recorder;      // its reader ring the reader thread's, its sender ring written under
                                       // m_sendLock; snapshots from the dumper thread
    McuDumper m_dumper;                // thread-safe requests; started and stopped with the reader, its thread
                                       // made at the first request
    McuPeerCredentials m_lastRefused;  // reader thread (the controlling thread's before it runs)
    int m_connectError = 0;            // reader thread (likewise): errno of the last failed connect, 0 once connected
    bool m_ownPathRefused = false;     // reader thread (likewise): the last bind failed and was reported

    McuSendLock m_sendLock;               // guards the two below and the bytes of one frame on the wire
    int m_sendFd;                      // m_fd while connected, else -1 (swapped only under m_sendLock)
    unsigned m_greetedSerial;          // the greeting the current connection got, 0 for none

    // The greeting has its own short lock, never held across I/O, so that it
    // is stored even when the send lock stays busy past a deadline.
    pthread_mutex_t m_greetingMutex;
    unsigned char m_greeting[GreetingMax]; // under m_greetingMutex
    int m_greetingLen;                 // under m_greetingMutex
    unsigned m_greetingSerial;         // under m_greetingMutex; counts the greetings stored
};

#endif // MCUTRANSPORT_H

#ifndef MCUDUMPER_H
#define MCUDUMPER_H

#include "mcuflightrecorder.h"

#include <memory>
#include <pthread.h>
#include <string>

class McuLinkObserver;

// Writes the flight recorder's rings to a capture file on a thread of its own,
// so that neither the reader nor a sender ever waits for a disk. At most 8
// dumps stay in the directory, the oldest go first; each holds at most 1024
// records, well under 1 MB. Their numbers go on from the highest in the
// directory, across restarts; files not named as dumps are left alone. A dump
// is on the disk whole or not at all, whenever the power goes. A dump that
// cannot be written costs one line through the observer and nothing else.
//
// Threads: start() and stop() belong to the link's controlling thread;
// request() may come from any thread.
class McuDumper
{
public:
    enum { KeptDumps = 8 };

    McuDumper(McuFlightRecorder &recorder, McuLinkObserver *observer);
    ~McuDumper();
    McuDumper(const McuDumper &) = delete;
    McuDumper &operator=(const McuDumper &) = delete;

    // dir null or empty: no dumps at all.
    void start(const char *dir);
    void stop();

    // Asks for a dump; reason names it ("link-down", "malformed", ...) and
    // must be a literal. Requests that come while one is pending are merged,
    // and a dump is skipped when nothing was recorded since the last one.
    void request(const char *reason);

private:
    static void *entry(void *self);
    void run();
    void write(const char *reason);

    McuFlightRecorder &m_recorder;         // fixed at construction
    McuLinkObserver *m_observer;           // fixed at construction; may be null

    pthread_mutex_t m_mutex;
    pthread_cond_t m_wake;
    const char *m_pending = nullptr;       // under m_mutex: reason of the requested dump
    bool m_stopping = false;               // under m_mutex
    bool m_running = false;                // controlling thread
    pthread_t m_thread;                    // controlling thread

    std::string m_dir;                                   // dumper thread (set before it starts)
    std::unique_ptr<McuCaptureRecord[]> m_snapshot;      // dumper thread; allocated at the first dump
    uint64_t m_dumpedSerial = 0;                         // dumper thread
};

#endif // MCUDUMPER_H

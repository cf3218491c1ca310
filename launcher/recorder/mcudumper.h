#ifndef MCUDUMPER_H
#define MCUDUMPER_H

#include "mcuflightrecorder.h"

#include <memory>
#include <pthread.h>
#include <string>

class McuDumpObserver;

// Writes the flight recorder's rings to a capture file on a thread of its own,
// so that neither the reader nor a sender ever waits for a disk. At most 8
// dumps stay in the directory, the oldest go first; each holds at most 1024
// records, well under 1 MB. Their numbers go on from the highest in the
// directory, across restarts; files not named as dumps are left alone. A dump
// is on the disk whole or not at all, whenever the power goes. A dump that
// cannot be written costs one line through the observer and nothing else.
//
// Threads: start() and stop() belong to the link's controlling thread;
// request() may come from any thread. The dumper's own thread is made at the
// first request, so that a link is up and greeted without waiting for it, and
// one that never dumps never has it.
class McuDumper
{
public:
    enum { KeptDumps = 8 };

    McuDumper(McuFlightRecorder &recorder, McuDumpObserver *observer);
    ~McuDumper();
    McuDumper(const McuDumper &) = delete;
    McuDumper &operator=(const McuDumper &) = delete;

    // dir null or empty: no dumps at all. A request pending when stop()
    // comes is still written.
    void start(const char *dir);
    void stop();

    // Asks for a dump; reason names it ("link-down", "malformed", ...) and
    // must be a literal. Requests that come while one is pending are merged,
    // and a dump is skipped when nothing was recorded since the last one.
    void request(const char *reason);

private:
    void startThreadLocked();
    static void *entry(void *self);
    void run();
    void write(const char *reason);

    McuFlightRecorder &m_recorder;         // fixed at construction
    McuDumpObserver *m_observer;           // fixed at construction; may be null

    pthread_mutex_t m_mutex;
    pthread_cond_t m_wake;
    const char *m_pending = nullptr;       // under m_mutex: reason of the requested dump
    bool m_enabled = false;                // under m_mutex: started with a directory, not stopped
    bool m_stopping = false;               // under m_mutex
    bool m_running = false;                // under m_mutex: m_thread is made and not yet joined
    pthread_t m_thread;                    // under m_mutex

    std::string m_dir;                                   // set by start() while no dumper thread runs; then the thread's
    std::unique_ptr<McuCaptureRecord[]> m_snapshot;      // dumper thread; allocated at the first dump
    uint64_t m_dumpedSerial = 0;                         // dumper thread
};

#endif // MCUDUMPER_H

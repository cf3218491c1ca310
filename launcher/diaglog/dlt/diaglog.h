#ifndef DIAGLOG_H
#define DIAGLOG_H

// The launcher's logging categories in the car's diagnostic log and trace
// system (DLT): one application, "HULN", and one context per category, with
// DLT's levels and the categories' levels kept alike in both directions.
//
// One instance lives for the whole of main(). Its constructor installs a Qt
// message handler; registration with DLT (about 1 ms of CPU and a thread) waits
// for the first turn of the event loop, after the start sequence, and what is
// logged before it is kept and handed over then. Messages still go on to the
// previous handler (stderr, the journal). The destructor stops forwarding and
// unregisters, waiting for messages that are on their way.

#include <cstddef>

class DiagLog
{
public:
    DiagLog();
    ~DiagLog();
    DiagLog(const DiagLog &) = delete;
    DiagLog &operator=(const DiagLog &) = delete;

    // One frame of the MCU link as network trace of headunit.mcu.frames, for
    // callers that found that category on. Nothing before registration or
    // after the destructor. Any thread.
    static void traceFrame(bool inbound, const unsigned char *frame, size_t len);
};

#endif // DIAGLOG_H

#ifndef MCUENDPOINT_H
#define MCUENDPOINT_H

// Where the MCU link lives: the path the launcher binds before connecting, and
// the MCU service's abstract socket name written with a leading '@' (replaced by
// the NUL byte on the wire; the address carries no terminating NUL).
struct McuEndpoint {
    const char *ownPath;
    const char *serviceName;

    // The endpoint the process-wide link uses. Production builds get
    // "/tmp/_zcxjm" and "@silverwren"; test builds of the launcher get names of
    // their own so that runs on one machine never meet.
    static McuEndpoint production();
};

#endif // MCUENDPOINT_H

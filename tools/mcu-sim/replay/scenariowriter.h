#ifndef SCENARIOWRITER_H
#define SCENARIOWRITER_H

#include "capturesession.h"

#include <functional>
#include <string>

// A scenario file equivalent to a checked capture, for a developer to edit,
// trim and keep as a test: the MCU's frames as "send" lines that rebuild them
// byte for byte, the launcher's as "expect" lines on their decoded text,
// "wait-connect" and "disconnect" where the link came and went. Pauses of
// 100 ms or more between records are kept as "sleep" lines, so that what
// depends on time (a key's release, a reconnection) happens as it did; the
// waits are generous so that a busy machine still passes. Frames whose
// content is the moment's (see ReplayComparison) are expected by name, which
// claims only well-formed ones. Every line ends with the record it comes from.
// Lines go to out as they are made, so nothing grows with the capture.
class ScenarioWriter
{
public:
    typedef std::function<void(const std::string &)> LineSink;

    // False, with the reason, when the capture no longer reads as when it was checked.
    static bool write(const CaptureSession &session, const std::string &sourceName, const LineSink &out,
                      std::string *error);
};

#endif // SCENARIOWRITER_H

#ifndef LOGCATEGORIES_H
#define LOGCATEGORIES_H

#include <QLoggingCategory>

// The launcher's own logging categories; the system's own output lines keep
// their channels. QT_LOGGING_RULES="headunit.*.debug=true" shows everything.
// headunit.startup belongs to the start-up checkpoints.
Q_DECLARE_LOGGING_CATEGORY(lcMcu)        // headunit.mcu: link events, info and up by default
Q_DECLARE_LOGGING_CATEGORY(lcMcuFrames)  // headunit.mcu.frames: every frame decoded, debug, off by default

#endif // LOGCATEGORIES_H

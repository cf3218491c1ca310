#include "logcategories.h"

Q_LOGGING_CATEGORY(lcMcu, "headunit.mcu", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMcuFrames, "headunit.mcu.frames", QtInfoMsg)

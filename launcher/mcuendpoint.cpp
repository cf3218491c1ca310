#include "mcuendpoint.h"

#ifndef HEADUNIT_MCU_OWN_PATH
#define HEADUNIT_MCU_OWN_PATH "/tmp/_zcxjm"
#endif
#ifndef HEADUNIT_MCU_SERVICE_NAME
#define HEADUNIT_MCU_SERVICE_NAME "@silverwren"
#endif

McuEndpoint McuEndpoint::production()
{
    return McuEndpoint{HEADUNIT_MCU_OWN_PATH, HEADUNIT_MCU_SERVICE_NAME};
}

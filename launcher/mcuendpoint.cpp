#include "mcuendpoint.h"

#ifndef HEADUNIT_MCU_OWN_PATH
#define HEADUNIT_MCU_OWN_PATH "/tmp/_zcxjm"
#endif
#ifndef HEADUNIT_MCU_SERVICE_NAME
#define HEADUNIT_MCU_SERVICE_NAME "@silverwren"
#endif
// A build-time list such as "0,1000," (note the trailing comma); empty by
// default, which admits any peer.
#ifndef HEADUNIT_MCU_ALLOWED_UIDS
#define HEADUNIT_MCU_ALLOWED_UIDS
#endif

namespace {
// The list's trailing comma meets the -1 that ends it.
const long AllowedUids[] = {HEADUNIT_MCU_ALLOWED_UIDS -1};
}

McuEndpoint McuEndpoint::production()
{
    return McuEndpoint{HEADUNIT_MCU_OWN_PATH, HEADUNIT_MCU_SERVICE_NAME, AllowedUids};
}

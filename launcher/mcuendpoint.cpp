#include "mcuendpoint.h"

#include <cstdlib>
#include <string>

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

// The flight recorder's dumps: a log directory on the board; empty on a PC,
// where they go to the user's state directory.
#ifndef HEADUNIT_DUMP_DIR
#define HEADUNIT_DUMP_DIR ""
#endif

namespace {
// The list's trailing comma meets the -1 that ends it.
const long AllowedUids[] = {HEADUNIT_MCU_ALLOWED_UIDS -1};

// $XDG_STATE_HOME/headunit, else ~/.local/state/headunit; none without a home.
const char *stateDumpDir()
{
    static const std::string dir = [] {
        if (*HEADUNIT_DUMP_DIR)
            return std::string(HEADUNIT_DUMP_DIR);
        const char *state = std::getenv("XDG_STATE_HOME");
        if (state && *state == '/')
            return std::string(state) + "/headunit";
        const char *home = std::getenv("HOME");
        return home && *home == '/' ? std::string(home) + "/.local/state/headunit" : std::string();
    }();
    return dir.empty() ? nullptr : dir.c_str();
}
} // namespace

McuEndpoint McuEndpoint::production()
{
    return McuEndpoint{HEADUNIT_MCU_OWN_PATH, HEADUNIT_MCU_SERVICE_NAME, AllowedUids, stateDumpDir()};
}

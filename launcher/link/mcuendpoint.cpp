#include "mcuendpoint.h"

#include <cstdlib>
#include <string>

// A build-time list such as "0,1000," (note the trailing comma); empty by
// default, which admits any peer.
#ifndef HEADUNIT_MCU_ALLOWED_UIDS
#define HEADUNIT_MCU_ALLOWED_UIDS
#endif

// The flight recorder's dumps when no service manager gives a directory: a
// log directory of the board's build; empty on a PC, where they go to the
// user's state directory.
#ifndef HEADUNIT_DUMP_DIR
#define HEADUNIT_DUMP_DIR ""
#endif

#include <cstring>

#ifdef HEADUNIT_TEST_MCU_NAME
#include <cstdio>
#endif

namespace {
// The list's trailing comma meets the -1 that ends it.
const long AllowedUids[] = {HEADUNIT_MCU_ALLOWED_UIDS -1};

// The service's log directory (LogsDirectory=, the first when several), else
// the build's, else $XDG_STATE_HOME/headunit, else ~/.local/state/headunit;
// none without a home. A system service has a home it cannot write, and only
// the log directory is made writable for it.
const char *stateDumpDir()
{
    static const std::string dir = [] {
        const char *logs = std::getenv("LOGS_DIRECTORY");
        if (logs && *logs == '/')
            return std::string(logs, std::strcspn(logs, ":"));
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

#ifdef HEADUNIT_TEST_MCU_NAME
// Room left in sun_path by "/tmp/hu-" and ".sock", with some to spare.
const size_t MaxTestNameLength = 64;

// A run that brings a name of its own (HEADUNIT_TEST_MCU_NAME in the
// environment) meets no other run of this build tree: tests in parallel, the
// demo next to them. Without one, the build tree's name drawn at configure time.
std::string testName()
{
    const char *name = std::getenv("HEADUNIT_TEST_MCU_NAME");
    if (!name || !*name)
        return HEADUNIT_TEST_MCU_NAME;
    if (std::strlen(name) > MaxTestNameLength || std::strchr(name, '/')) {
        std::fprintf(stderr, "HEADUNIT_TEST_MCU_NAME must be at most %zu characters without '/'\n", MaxTestNameLength);
        std::abort();
    }
    return name;
}
#endif
} // namespace

#ifdef HEADUNIT_TEST_MCU_NAME
McuEndpoint McuEndpoint::production()
{
    // Built once, on first use; the transport copies them into its addresses.
    static const std::string name = testName();
    static const std::string ownPath = "/tmp/hu-" + name + ".sock";
    static const std::string serviceName = "@" + name;
    return McuEndpoint{ownPath.c_str(), serviceName.c_str(), AllowedUids, stateDumpDir()};
}
#else
McuEndpoint McuEndpoint::production()
{
    return McuEndpoint{"/tmp/_zcxjm", "@silverwren", AllowedUids, stateDumpDir()};
}
#endif

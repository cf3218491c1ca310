#include "simoptions.h"

#include "scenariocommand.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// Beyond this the capture's pauses are gone anyway.
const double FastestSpeed = 1000000;

bool setMode(SimOptions *o, SimOptions::Mode mode, const std::string &arg, std::string *error)
{
    if (o->mode != SimOptions::Interactive && o->mode != mode) {
        *error = arg + " excludes --scenario, --interactive, --replay and --scenario-from but itself";
        return false;
    }
    o->mode = mode;
    return true;
}

} // namespace

bool SimOptions::parse(int argc, char **argv, SimOptions *o, std::string *error)
{
    bool interactive = false;
    bool speedGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            o->mode = Help;
            return true;
        } else if (arg == "--name" && hasValue) {
            o->name = argv[++i];
        } else if ((arg == "--scenario" || arg == "--replay" || arg == "--scenario-from") && hasValue) {
            if (!setMode(o, arg == "--scenario" ? Scenario : arg == "--replay" ? Replay : ScenarioFrom, arg, error))
                return false;
            o->file = argv[++i];
        } else if (arg == "--interactive") {
            interactive = true;
        } else if (arg == "--pcap" && hasValue) {
            o->pcap = argv[++i];
        } else if (arg == "--quiet") {
            o->quiet = true;
        } else if (arg == "--speed" && hasValue) {
            const char *text = argv[++i];
            char *end = nullptr;
            errno = 0;
            o->pace.speed = std::strtod(text, &end);
            if (errno != 0 || end == text || *end != '\0' || !std::isfinite(o->pace.speed) || o->pace.speed <= 0
                || o->pace.speed > FastestSpeed) {
                *error = "--speed takes a number above 0 and at most 1000000, not \"" + std::string(text) + "\"";
                return false;
            }
            speedGiven = true;
        } else if (arg == "--as-fast-as-possible") {
            o->pace.asFastAsPossible = true;
        } else {
            *error = "bad argument \"" + arg + "\"";
            return false;
        }
    }
    if (interactive && !setMode(o, Interactive, "--interactive", error))
        return false;
    if ((speedGiven || o->pace.asFastAsPossible) && o->mode != Replay) {
        *error = "--speed and --as-fast-as-possible pace a --replay";
        return false;
    }
    if (speedGiven && o->pace.asFastAsPossible) {
        *error = "--speed and --as-fast-as-possible exclude each other";
        return false;
    }
    if (!o->pcap.empty() && o->mode == ScenarioFrom) {
        *error = "--scenario-from plays no session for --pcap to record";
        return false;
    }
    return true;
}

void SimOptions::usage(FILE *out)
{
    std::fputs("usage: mcu-sim [--name @NAME] [--scenario FILE | --interactive | --replay CAPTURE [PACE]]\n"
               "               [--pcap FILE] [--quiet]\n"
               "       mcu-sim --scenario-from CAPTURE > FILE\n"
               "  --name @NAME      abstract socket name to listen on (default @silverwren)\n"
               "  --scenario FILE   run FILE and exit: 0 all expectations met, 1 one failed, 2 bad scenario\n"
               "  --interactive     read commands from standard input (the default)\n"
               "  --replay CAPTURE  play the MCU's frames of a capture and compare the launcher's with it;\n"
               "                    exit 0 nothing missing, extra or different, 1 otherwise, 2 bad capture\n"
               "    --speed N               PACE: the capture's pauses divided by N (2: twice as fast)\n"
               "    --as-fast-as-possible   PACE: no pauses, as fast as the launcher answers\n"
               "  --scenario-from CAPTURE  write a scenario equivalent to the capture to standard output\n"
               "  --pcap FILE       record the session, both directions, to FILE (pcap; see tools/wireshark)\n"
               "  --quiet           show only failures and the outcome\n"
               "Lines: '<- ' frames from the launcher, '-> ' frames to it, '-- ' events, '!! ' failures.\n\n",
               out);
    std::fputs(ScenarioCommand::help().c_str(), out);
}

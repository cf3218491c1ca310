#ifndef SIMOPTIONS_H
#define SIMOPTIONS_H

#include "captureplayer.h"

#include <cstdio>
#include <string>

// mcu-sim's command line.
struct SimOptions {
    enum Mode {
        Interactive,    // commands typed on standard input
        Scenario,       // --scenario FILE
        Replay,         // --replay CAPTURE
        ScenarioFrom,   // --scenario-from CAPTURE
        Help,           // --help
    };

    Mode mode = Interactive;
    std::string name = "@silverwren";
    std::string file;        // the scenario or the capture
    std::string pcap;        // where to record the session; empty: nowhere
    bool quiet = false;
    CapturePlayer::Pace pace;

    // False, with the reason, for a command line that cannot run.
    static bool parse(int argc, char **argv, SimOptions *options, std::string *error);
    static void usage(FILE *out);
};

#endif // SIMOPTIONS_H

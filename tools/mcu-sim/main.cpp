// mcu-sim: plays the MCU service for a launcher on this machine.

#include "mcusimulator.h"
#include "scenariorunner.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

void usage(FILE *out)
{
    std::fputs("usage: mcu-sim [--name @NAME] [--scenario FILE | --interactive] [--pcap FILE] [--quiet] [--help]\n"
               "  --name @NAME      abstract socket name to listen on (default @silverwren)\n"
               "  --scenario FILE   run FILE and exit: 0 all expectations met, 1 one failed, 2 bad scenario\n"
               "  --interactive     read commands from standard input (the default without --scenario)\n"
               "  --pcap FILE       record the session, both directions, to FILE (pcap; see tools/wireshark)\n"
               "  --quiet           show only failures and the outcome\n"
               "Lines: '<- ' frames from the launcher, '-> ' frames to it, '-- ' events, '!! ' failures.\n\n",
               out);
    std::fputs(ScenarioCommand::help().c_str(), out);
}

} // namespace

int main(int argc, char **argv)
{
    std::string name = "@silverwren";
    std::string scenario;
    std::string pcap;
    bool interactive = false;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--name" && i + 1 < argc) {
            name = argv[++i];
        } else if (arg == "--scenario" && i + 1 < argc) {
            scenario = argv[++i];
        } else if (arg == "--pcap" && i + 1 < argc) {
            pcap = argv[++i];
        } else if (arg == "--interactive") {
            interactive = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            std::fprintf(stderr, "mcu-sim: bad argument \"%s\"\n", arg.c_str());
            usage(stderr);
            return ScenarioRunner::Unusable;
        }
    }
    if (interactive && !scenario.empty()) {
        std::fputs("mcu-sim: --scenario and --interactive exclude each other\n", stderr);
        return ScenarioRunner::Unusable;
    }

    // Flushed line by line: a test or a person watches the output through a pipe.
    const McuSimulator::LineSink print = [quiet](McuSimulator::LineKind kind, const std::string &line) {
        if (quiet && kind != McuSimulator::Result)
            return;
        std::fputs(line.c_str(), stdout);
        if (line.empty() || line.back() != '\n')
            std::fputc('\n', stdout);
        std::fflush(stdout);
    };

    McuSimulator sim(print);
    std::string error;
    if (!pcap.empty() && !sim.captureTo(pcap, &error)) {
        std::fprintf(stderr, "mcu-sim: %s\n", error.c_str());
        return ScenarioRunner::Unusable;
    }
    if (!sim.listen(name, &error)) {
        std::fprintf(stderr, "mcu-sim: %s\n", error.c_str());
        return ScenarioRunner::Unusable;
    }
    ScenarioRunner runner(sim, print);
    return scenario.empty() ? runner.runInteractive(STDIN_FILENO) : runner.runFile(scenario);
}

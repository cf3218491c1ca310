// mcu-sim: plays the MCU service for a launcher on this machine.

#include "capturesession.h"
#include "captureplayer.h"
#include "mcusimulator.h"
#include "scenariorunner.h"
#include "scenariowriter.h"
#include "simoptions.h"

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    SimOptions options;
    std::string error;
    if (!SimOptions::parse(argc, argv, &options, &error)) {
        std::fprintf(stderr, "mcu-sim: %s\n", error.c_str());
        SimOptions::usage(stderr);
        return ScenarioRunner::Unusable;
    }
    if (options.mode == SimOptions::Help) {
        SimOptions::usage(stdout);
        return 0;
    }

    // A capture is checked whole before anything is played or written, then
    // read again as it is played.
    CaptureSession capture;
    const bool fromCapture = options.mode == SimOptions::Replay || options.mode == SimOptions::ScenarioFrom;
    if (fromCapture && !capture.load(options.file, &error)) {
        std::fprintf(stderr, "mcu-sim: %s\n", error.c_str());
        return ScenarioRunner::Unusable;
    }
    if (options.mode == SimOptions::ScenarioFrom) {
        const bool whole = ScenarioWriter::write(capture, options.file, [](const std::string &line) {
            std::fputs(line.c_str(), stdout);
            std::fputc('\n', stdout);
        }, &error);
        if (!whole)
            std::fprintf(stderr, "mcu-sim: %s\n", error.c_str());
        return std::fflush(stdout) == 0 && whole ? 0 : ScenarioRunner::Unusable;
    }

    // Flushed line by line: a test or a person watches the output through a pipe.
    const bool quiet = options.quiet;
    const McuSimulator::LineSink print = [quiet](McuSimulator::LineKind kind, const std::string &line) {
        if (quiet && kind != McuSimulator::Result)
            return;
        std::fputs(line.c_str(), stdout);
        if (line.empty() || line.back() != '\n')
            std::fputc('\n', stdout);
        std::fflush(stdout);
    };

    McuSimulator sim(print);
    if (!options.pcap.empty() && !sim.captureTo(options.pcap, &error)) {
        std::fprintf(stderr, "mcu-sim: %s\n", error.c_str());
        return ScenarioRunner::Unusable;
    }
    if (!sim.listen(options.name, &error)) {
        std::fprintf(stderr, "mcu-sim: %s\n", error.c_str());
        return ScenarioRunner::Unusable;
    }
    if (options.mode == SimOptions::Replay)
        return CapturePlayer(sim, capture, options.pace, print).run(options.file);
    ScenarioRunner runner(sim, print);
    return options.mode == SimOptions::Scenario ? runner.runFile(options.file) : runner.runInteractive(STDIN_FILENO);
}

#ifndef SCENARIORUNNER_H
#define SCENARIORUNNER_H

#include "mcusimulator.h"
#include "scenariocommand.h"

#include <functional>
#include <string>
#include <vector>

// Plays scenario commands against the simulator, from a file or typed.
// Exit codes: 0 every expectation met, 1 one failed, 2 the scenario could not
// be read or has bad lines (nothing is sent then).
class ScenarioRunner
{
public:
    enum { Passed = 0, Failed = 1, Unusable = 2 };

    ScenarioRunner(McuSimulator &sim, McuSimulator::LineSink sink);

    // Checks every line first, then runs them in order and stops at the first
    // failure. sourceName labels the lines in messages. A file is read and
    // checked a line at a time; only its commands are kept.
    int runLines(const std::vector<std::string> &lines, const std::string &sourceName);
    int runFile(const std::string &path);
    // Commands from fd until its end; a failure is reported and the next line
    // runs. Frames are shown while waiting for input.
    int runInteractive(int fd);

private:
    // nextLine gives the lines in order, false at the end.
    int run(const std::function<bool(std::string *)> &nextLine, const std::string &sourceName);
    bool execute(const ScenarioCommand &command, std::string *why);

    McuSimulator &m_sim;
    McuSimulator::LineSink m_sink;
    int m_expectations;
};

#endif // SCENARIORUNNER_H

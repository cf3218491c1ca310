#include "scenariorunner.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <unistd.h>

ScenarioRunner::ScenarioRunner(McuSimulator &sim, McuSimulator::LineSink sink)
    : m_sim(sim)
    , m_sink(std::move(sink))
    , m_expectations(0)
{
}

bool ScenarioRunner::execute(const ScenarioCommand &c, std::string *why)
{
    switch (c.op) {
    case ScenarioCommand::Nothing:
        return true;
    case ScenarioCommand::Help:
        m_sink(McuSimulator::Result, ScenarioCommand::help());
        return true;
    case ScenarioCommand::WaitConnect:
        if (m_sim.waitConnected(c.ms))
            return true;
        *why = "the launcher did not connect within " + std::to_string(c.ms) + " ms";
        return false;
    case ScenarioCommand::Expect:
        ++m_expectations;
        return m_sim.expect(c.name, c.match, c.ms, why);
    case ScenarioCommand::ExpectNone:
        ++m_expectations;
        return m_sim.expectNone(c.name, c.match, c.ms, why);
    case ScenarioCommand::Sleep:
        m_sim.pump(c.ms);
        return true;
    case ScenarioCommand::Disconnect:
        m_sim.disconnect();
        return true;
    case ScenarioCommand::Send:
        if (!m_sim.send(c.frame, why))
            return false;
        m_sink(McuSimulator::Traffic, "-> " + c.what);
        return true;
    }
    return true;
}

int ScenarioRunner::runLines(const std::vector<std::string> &lines, const std::string &sourceName)
{
    std::vector<ScenarioCommand> commands(lines.size());
    bool usable = true;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string error;
        if (!ScenarioCommand::parse(lines[i], &commands[i], &error)) {
            m_sink(McuSimulator::Result, "!! " + sourceName + ":" + std::to_string(i + 1) + ": " + error);
            usable = false;
        }
    }
    if (!usable)
        return Unusable;

    m_expectations = 0;
    for (size_t i = 0; i < commands.size(); ++i) {
        std::string why;
        if (!execute(commands[i], &why)) {
            std::string shown = lines[i].substr(0, lines[i].find('#'));
            shown.erase(shown.find_last_not_of(" \t\r") + 1);
            shown.erase(0, shown.find_first_not_of(" \t"));
            m_sink(McuSimulator::Result,
                   "!! FAILED " + sourceName + ":" + std::to_string(i + 1) + ": " + shown + ": " + why);
            return Failed;
        }
    }
    m_sink(McuSimulator::Result,
           "== " + sourceName + " passed: " + std::to_string(m_expectations) + " expectations met");
    return Passed;
}

int ScenarioRunner::runFile(const std::string &path)
{
    std::ifstream in(path);
    if (!in) {
        m_sink(McuSimulator::Result, "!! cannot read " + path + ": " + std::strerror(errno));
        return Unusable;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return runLines(lines, path);
}

int ScenarioRunner::runInteractive(int fd)
{
    int failures = 0;
    std::string pending;
    bool atEnd = false;
    while (!atEnd) {
        m_sim.pump(-1, fd);
        char buf[1024];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0)
            pending.append(buf, size_t(n));
        else
            atEnd = true;
        // A last line without its newline still runs at the end of input.
        size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos || (atEnd && !pending.empty())) {
            const std::string line = pending.substr(0, eol);
            pending.erase(0, eol == std::string::npos ? std::string::npos : eol + 1);
            ScenarioCommand command;
            std::string why;
            if (!ScenarioCommand::parse(line, &command, &why)) {
                m_sink(McuSimulator::Result, "!! " + why);
            } else if (!execute(command, &why)) {
                m_sink(McuSimulator::Result, "!! FAILED: " + why);
                ++failures;
            }
        }
    }
    m_sink(McuSimulator::Result, "== end of input: " + std::to_string(failures) + " commands failed");
    return failures == 0 ? Passed : Failed;
}

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
    size_t next = 0;
    return run([&](std::string *line) {
        if (next == lines.size())
            return false;
        *line = lines[next++];
        return true;
    }, sourceName);
}

int ScenarioRunner::runFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        m_sink(McuSimulator::Result, "!! cannot read " + path + ": " + std::strerror(errno));
        return Unusable;
    }
    std::streambuf *buf = in.rdbuf();
    // Keeps one byte past the limit of a longer line, so that it is refused
    // as it is read, never held.
    return run([buf](std::string *line) {
        line->clear();
        int c = buf->sbumpc();
        if (c == std::char_traits<char>::eof())
            return false;
        for (; c != std::char_traits<char>::eof() && c != '\n'; c = buf->sbumpc()) {
            if (line->size() <= ScenarioCommand::MaxLineLength)
                line->push_back(char(c));
        }
        return true;
    }, path);
}

int ScenarioRunner::run(const std::function<bool(std::string *)> &nextLine, const std::string &sourceName)
{
    // Only the commands are kept, not blank lines or comments.
    struct Checked {
        size_t line;
        ScenarioCommand command;
        std::string shown;
    };
    std::vector<Checked> commands;
    bool usable = true;
    std::string line;
    for (size_t n = 1; nextLine(&line); ++n) {
        ScenarioCommand command;
        std::string error;
        if (!ScenarioCommand::parse(line, &command, &error)) {
            m_sink(McuSimulator::Result, "!! " + sourceName + ":" + std::to_string(n) + ": " + error);
            usable = false;
        } else if (usable && command.op != ScenarioCommand::Nothing) {
            std::string shown = line.substr(0, line.find('#'));
            shown.erase(shown.find_last_not_of(" \t\r") + 1);
            shown.erase(0, shown.find_first_not_of(" \t"));
            commands.push_back({n, std::move(command), std::move(shown)});
        }
    }
    if (!usable)
        return Unusable;

    m_expectations = 0;
    for (const Checked &c : commands) {
        std::string why;
        if (!execute(c.command, &why)) {
            m_sink(McuSimulator::Result,
                   "!! FAILED " + sourceName + ":" + std::to_string(c.line) + ": " + c.shown + ": " + why);
            return Failed;
        }
    }
    m_sink(McuSimulator::Result,
           "== " + sourceName + " passed: " + std::to_string(m_expectations) + " expectations met");
    return Passed;
}

int ScenarioRunner::runInteractive(int fd)
{
    int failures = 0;
    std::string pending;
    bool atEnd = false;
    bool tooLong = false;   // inside a line past the limit, which is dropped up to its end
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
        while ((eol = pending.find('\n')) != std::string::npos || (atEnd && !pending.empty())
               || pending.size() > ScenarioCommand::MaxLineLength) {
            const std::string line = pending.substr(0, eol);
            pending.erase(0, eol == std::string::npos ? std::string::npos : eol + 1);
            const bool ended = eol != std::string::npos || atEnd;
            if (tooLong || !ended) {
                if (!tooLong)
                    m_sink(McuSimulator::Result, "!! " + ScenarioCommand::tooLong());
                tooLong = !ended;
                continue;
            }
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

// Scenario lines as a person types them: a line is refused or makes a command
// within its limits, and every frame a send builds is written back by the
// scenario writer as lines that parse to the same frame.
#include "inboundcommand.h"
#include "scenariocommand.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    for (size_t at = 0; at <= input.size();) {
        size_t eol = input.find('\n', at);
        if (eol == std::string::npos)
            eol = input.size();
        const std::string line = input.substr(at, eol - at);
        at = eol + 1;

        ScenarioCommand c;
        std::string error;
        if (!ScenarioCommand::parse(line, &c, &error)) {
            if (error.empty())
                std::abort();
            continue;
        }
        if (line.size() > ScenarioCommand::MaxLineLength || c.ms < 0 || c.ms > 3600 * 1000 || c.frame.size() > 4096)
            std::abort();
        if (c.op != ScenarioCommand::Send)
            continue;
        std::vector<unsigned char> rebuilt;
        for (const std::string &sendLine : InboundCommand::sendLines(c.frame)) {
            ScenarioCommand back;
            if (!ScenarioCommand::parse(sendLine, &back, &error) || back.op != ScenarioCommand::Send)
                std::abort();
            rebuilt.insert(rebuilt.end(), back.frame.begin(), back.frame.end());
        }
        if (rebuilt != c.frame)
            std::abort();
    }
    return 0;
}

#ifndef SCENARIOCOMMAND_H
#define SCENARIOCOMMAND_H

#include <string>
#include <vector>

// One line of a scenario, as typed or read from a file. "#" starts a comment
// anywhere on a line. Frames to send are built while parsing, so a scenario
// with a bad line is refused before anything reaches the launcher.
struct ScenarioCommand {
    // The longest line taken: room for a raw send of all its 4096 bytes
    // written a token a byte, and a comment.
    enum : size_t { MaxLineLength = 16384 };

    enum Op {
        Nothing,        // blank or comment line
        WaitConnect,    // wait-connect MS
        Expect,         // expect NAME MS [TEXT]
        ExpectNone,     // expect-none NAME MS [TEXT]
        Send,           // send WHAT ARGS...
        Sleep,          // sleep MS (frames are still read and shown)
        Disconnect,     // disconnect
        Help,           // help
    };

    Op op = Nothing;
    int ms = 0;
    std::string name;                  // frame name for the expectations
    std::string match;                 // text the decoded line must contain; empty matches any
    std::vector<unsigned char> frame;  // bytes to send
    std::string what;                  // what is sent, for the "-> " line

    // False, with a reason in *error, for a line that is not a command or
    // is longer than MaxLineLength.
    static bool parse(const std::string &line, ScenarioCommand *command, std::string *error);

    // The command reference, for --help and "help".
    static const std::string &help();
    // The reason given for a line longer than MaxLineLength.
    static std::string tooLong();
};

#endif // SCENARIOCOMMAND_H

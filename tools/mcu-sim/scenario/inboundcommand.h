#ifndef INBOUNDCOMMAND_H
#define INBOUNDCOMMAND_H

#include <string>
#include <vector>

// The scenario's "send" lines that put one MCU frame on the wire byte for
// byte: the named command when it builds exactly these bytes ("send key 5 1"),
// else the generic frame ("send normal", "send long", "send can"), else the
// raw bytes, over several lines when there are more than one line takes. Each
// candidate is parsed back and kept only when it rebuilds the same bytes, so a
// line never stands for a frame it does not send. Pure code.
class InboundCommand
{
public:
    static std::vector<std::string> sendLines(const std::vector<unsigned char> &frame);
    // What a "-> " line shows for the frame, e.g. "MSG_M2A_KEY_PRESSED 5 1 (msg 13078, p1 5, p2 1)".
    static std::string shown(const std::vector<unsigned char> &frame);
};

#endif // INBOUNDCOMMAND_H

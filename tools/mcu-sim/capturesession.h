#ifndef CAPTURESESSION_H
#define CAPTURESESSION_H

#include <mcucapture.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A capture of the MCU link read whole and checked as a session that can be
// played again: the frames of both ends and the connections coming and going,
// in capture order. Every record is checked before anything is played, so a
// bad capture is refused whole with its first bad record named, never played
// halfway. Single-threaded; nothing but load() touches the file system.
//
// A flight recorder keeps only the newest frames, so its capture may begin
// inside a connection: the first link event tells. A capture that begins with
// a link coming up starts with no connection; one whose first link event is
// the link going down, or that holds no link event, begins inside one.
class CaptureSession
{
public:
    struct Step {
        enum Kind {
            Connect,      // the launcher connected
            Disconnect,   // the connection ended; `by` names the end that ended it
            Send,         // a frame of the MCU service's, to send again
            Expect,       // a frame of the launcher's, to compare
            Unheard,      // a frame of the launcher's while no connection was up
        };
        Kind kind = Send;
        size_t record = 0;                 // place in the capture, counted from 1
        uint64_t atNs = 0;                 // monotonic time after the first record
        McuCaptureDirection by = McuCaptureIn;
        size_t connection = 0;             // the capture's connection, from 0 (Unheard: the next one)
        std::vector<unsigned char> bytes;  // Send: as it goes on the wire; Expect, Unheard: the frame
        size_t keptLength = 0;             // Send: bytes the capture kept, zeros after them
    };

    // Reads and checks path; false, with the file and the record in *error.
    bool load(const std::string &path, std::string *error);
    // Checks records read elsewhere; sourceName starts every error.
    bool assign(const std::vector<McuCaptureRecord> &records, const std::string &sourceName, std::string *error);

    const std::vector<Step> &steps() const { return m_steps; }
    bool beginsInsideConnection() const { return m_beginsInside; }
    size_t connectionCount() const { return m_connections; }
    size_t recordCount() const { return m_records; }
    // Things about the capture worth saying before it is played, one a line.
    const std::vector<std::string> &notes() const { return m_notes; }

    // Empty when bytes are a frame the launcher can send: kind 1 of 16 bytes,
    // or kind 2 or 3 of 264.
    static std::string launcherFrameError(const unsigned char *bytes, size_t length);

private:
    std::vector<Step> m_steps;
    bool m_beginsInside = false;
    size_t m_connections = 0;
    size_t m_records = 0;
    std::vector<std::string> m_notes;
};

#endif // CAPTURESESSION_H

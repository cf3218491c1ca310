#ifndef CAPTURESESSION_H
#define CAPTURESESSION_H

#include <mcucapture.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A capture of the MCU link checked as a session that can be played again:
// the frames of both ends and the connections coming and going, in capture
// order. load() reads the whole capture once and checks every record, so a bad
// capture is refused with its first bad record named, never played halfway;
// forEachStep() then reads it again, step by step. Nothing is kept per record,
// so memory does not grow with the capture. Single-threaded; nothing but
// load() and forEachStep() touches the file system.
//
// A flight recorder keeps only the newest frames, so its capture may begin
// inside a connection: the first link event tells. A capture that begins with
// a link coming up starts with no connection; one whose first link event is
// the link going down, or that holds no link event, begins inside one.
//
// A pause of more than an hour between two records (a clock that jumped, an
// edited capture) is played as an hour, with a note that says so.
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
        uint64_t atNs = 0;                 // time after the first record, pauses bounded
        uint64_t pauseNs = 0;              // since the step before, bounded
        McuCaptureDirection by = McuCaptureIn;
        size_t connection = 0;             // the capture's connection, from 0 (Unheard: the next one)
        std::vector<unsigned char> bytes;  // the frame's bytes the capture kept
        uint32_t fullLength = 0;           // Send: its length on the wire; zeros follow the kept bytes

        // Send: the frame as it goes on the wire.
        std::vector<unsigned char> wire() const;
    };
    // False stops the walk through the steps.
    typedef std::function<bool(const Step &)> StepHandler;

    // Reads and checks path; false, with the file and the record in *error.
    bool load(const std::string &path, std::string *error);
    // The same for a capture in memory, named name in errors; the bytes must
    // outlive the session.
    bool loadBytes(const unsigned char *data, size_t size, const std::string &name, std::string *error);

    // Reads the checked capture again and hands its steps to handler in
    // order. False, with the reason, when the capture no longer reads as it
    // did when it was checked.
    bool forEachStep(const StepHandler &handler, std::string *error) const;

    bool beginsInsideConnection() const { return m_beginsInside; }
    size_t connectionCount() const { return m_connections; }
    size_t recordCount() const { return m_records; }
    // Things about the capture worth saying before it is played, one a line;
    // the first hundred, then how many more there were.
    const std::vector<std::string> &notes() const { return m_notes; }

    // Empty when bytes are a frame the launcher can send: kind 1 of 16 bytes,
    // or kind 2 or 3 of 264.
    static std::string launcherFrameError(const unsigned char *bytes, size_t length);
    // A span of time as a person reads it: "59 s", "3 h", "584 years".
    static std::string duration(uint64_t ns);

private:
    struct Walk;

    bool check(std::string *error);
    bool open(McuCaptureReader *reader, std::string *error) const;
    bool walk(Walk *w, const StepHandler &handler, std::string *error) const;

    std::string m_name;                    // the file, or the name of the bytes
    const unsigned char *m_data = nullptr; // the bytes, when not a file
    size_t m_size = 0;
    bool m_beginsInside = false;
    size_t m_connections = 0;
    size_t m_records = 0;
    std::vector<std::string> m_notes;
};

#endif // CAPTURESESSION_H

#ifndef MCUSIMULATOR_H
#define MCUSIMULATOR_H

#include "framedecoder.h"

#include <mcucapture.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// The MCU service's end of the link: listens on an abstract socket name,
// takes the launcher's connection (a newer one replaces the older, as when the
// launcher reconnects), shows every frame it receives and keeps them until an
// expectation claims them. Single-threaded: everything runs on the caller's
// thread, inside the calls below; nothing happens between them.
class McuSimulator
{
public:
    enum LineKind {
        Traffic,   // "<- " and "-> " lines
        Info,      // connection changes and progress
        Result,    // failures and the outcome, shown even when quiet
    };
    typedef std::function<void(LineKind, const std::string &)> LineSink;
    typedef std::function<void(const DecodedFrame &)> FrameObserver;

    explicit McuSimulator(LineSink sink);
    ~McuSimulator();
    McuSimulator(const McuSimulator &) = delete;
    McuSimulator &operator=(const McuSimulator &) = delete;

    // name is "@" and the abstract name, as the launcher spells it.
    bool listen(const std::string &name, std::string *error);
    // Records the session from now on into a capture file: the frames of both
    // directions and the connections made and ended. A write that fails stops
    // the recording with one line.
    bool captureTo(const std::string &path, std::string *error);

    bool isConnected() const { return m_connFd >= 0; }
    // Connections taken since listen(); the frames of the current one arrive
    // while this is its number.
    uint64_t connections() const { return m_connections; }
    bool waitConnected(int ms);
    bool send(const std::vector<unsigned char> &bytes, std::string *error);
    void disconnect();

    // Reads, shows and keeps frames for ms (-1: no limit), returning early and
    // true as soon as wakeFd (if not -1) is readable.
    bool pump(int ms, int wakeFd = -1);
    // Reads, shows and keeps frames until done() holds, for at most ms; reads
    // at least once. Returns done().
    bool pumpUntil(const std::function<bool()> &done, int ms);
    // Also hands every frame received from now on to observer, as it arrives.
    void observeFrames(FrameObserver observer) { m_observer = std::move(observer); }

    // Claims the oldest kept well-formed frame called name whose line contains
    // match, waiting up to ms for one to arrive.
    bool expect(const std::string &name, const std::string &match, int ms, std::string *why);
    // Fails, claiming it, if such a frame is kept or arrives within ms.
    bool expectNone(const std::string &name, const std::string &match, int ms, std::string *why);

private:
    typedef std::chrono::steady_clock Clock;

    bool pollOnce(int ms, int wakeFd);
    // False with the reason when not all bytes went out; *ended says why
    // the connection ended, if it did (it is still to be dropped).
    bool sendAll(const std::vector<unsigned char> &bytes, size_t *sent, std::string *ended, std::string *error);
    void accept();
    void readConnection();
    // Reads what is waiting; false, with *ended, when the connection ended.
    bool readOnce(std::string *ended);
    // by: Out when the launcher ended the connection, In when the simulator did.
    void dropConnection(const std::string &why, McuCaptureDirection by);
    void capture(const McuCaptureRecord &record);
    bool claim(const std::string &name, const std::string &match, bool wellFormedOnly);
    static int remainingMs(Clock::time_point deadline);

    LineSink m_sink;
    int m_listenFd;
    int m_connFd;
    uint64_t m_connections;
    FrameDecoder m_decoder;
    // Frames not yet claimed by an expectation, oldest first; bounded so an
    // unwatched heartbeat cannot grow it for ever.
    std::deque<DecodedFrame> m_kept;
    McuCaptureWriter m_capture;   // not open when the session is not recorded
    FrameObserver m_observer;     // empty unless someone watches the frames
};

#endif // MCUSIMULATOR_H

#ifndef SOUNDSERVER_H
#define SOUNDSERVER_H

// A PulseAudio daemon of one's own for hearing what a program plays: its own
// runtime folder and socket, one null sink, and a recording of that sink's
// monitor on a timeline of CLOCK_MONOTONIC. Programs reach it through
// PULSE_SERVER=address(). The daemon and the recorder are children stopped by
// their pids when the object goes, and by the kernel if this process dies first.
//
// One thread uses the object; the recording is filled by a reader thread of its
// own and read through samples().

#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

class SoundServer
{
public:
    static constexpr int Rate = 16000; // the sink's, mono 16-bit, as the build's beeps

    SoundServer() = default;
    SoundServer(const SoundServer &) = delete;
    SoundServer &operator=(const SoundServer &) = delete;
    ~SoundServer() { stop(); }

    // Starts the daemon in folder (which must exist) and begins recording.
    // False, with the reason in error(), when either cannot start within 10 s.
    bool start(const std::string &folder);
    void stop();

    std::string address() const { return "unix:" + m_socket; }
    const std::string &error() const { return m_error; }

    // Everything recorded so far.
    std::vector<int16_t> samples() const;
    // CLOCK_MONOTONIC seconds at which the sink played sample index.
    double timeOf(double index) const;

private:
    bool fail(const std::string &why);
    void readRecording(int fd);

    std::string m_socket;
    std::string m_error;
    pid_t m_daemon = -1;
    pid_t m_recorder = -1;
    std::thread m_reader;

    mutable std::mutex m_mutex; // guards the two below, written by m_reader
    std::vector<int16_t> m_samples;
    // Smallest (arrival time - recorded duration): the sink's clock at sample 0,
    // less the little the sink renders ahead of it.
    double m_origin = 1e300;
};

#endif // SOUNDSERVER_H

// How long a flight recorder dump takes, from the request to the file renamed
// into place (written and synced), while the reader thread is anywhere but in
// read(): held in the sink, as by a platform call that hangs, or in an
// observer. Then the launcher process itself, its standard output a pipe that
// nobody reads, so that its reader hangs in the frame line's flush, asked
// with SIGUSR2 as an engineer asks it.
// Run: bench_mcu_dump_latency LAUNCHER [ROUNDS]   (ROUNDS per case, default 50;
// a tenth of them, at least 3, for the launcher process)

#include <mcuframes.h>
#include <mcuframesink.h>
#include <mcutransport.h>

#include "benchargs.h"
#include "unixpeer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Hold { None, Sink, Observer };

// Where the reader waits, and the dumps as they are written. Frames are
// counted where the reader is held (in the sink when it is not), and it waits
// there until the bench releases it; the dumper's thread reports each dump.
class Gate
{
public:
    explicit Gate(Hold hold) : m_hold(hold), m_counted(hold == Hold::None ? Hold::Sink : hold) {}

    void pass(Hold where)
    {
        if (where != m_counted)
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_frames;
        m_changed.notify_all();
        if (m_hold != Hold::None)
            m_changed.wait(lock, [this] { return m_released >= m_frames; });
    }
    void dumped()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ++m_dumps;
        m_changed.notify_all();
    }
    bool waitForFrames(int frames)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_frames >= frames; });
    }
    bool waitForDumps(int dumps)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_dumps >= dumps; });
    }
    void release()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_released = m_frames;
        m_changed.notify_all();
    }

private:
    const Hold m_hold;
    const Hold m_counted;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_frames = 0;   // under m_mutex
    int m_released = 0; // under m_mutex
    int m_dumps = 0;    // under m_mutex
};

class GateSink : public McuFrameSink
{
public:
    explicit GateSink(Gate &gate) : m_gate(gate) {}
    void onMcuFrame(unsigned char *) override { m_gate.pass(Hold::Sink); }

private:
    Gate &m_gate;
};

class GateObserver : public McuLinkObserver
{
public:
    explicit GateObserver(Gate &gate) : m_gate(gate) {}
    void frameIn(const unsigned char *, size_t, uint64_t) override { m_gate.pass(Hold::Observer); }
    void dumpWritten(const char *, size_t) override { m_gate.dumped(); }
    void dumpFailed(const char *error) override
    {
        std::fprintf(stderr, "dump failed: %s\n", error);
        std::exit(1);
    }

private:
    Gate &m_gate;
};

struct TempDir {
    TempDir()
    {
        const char *tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/dumpbench-XXXXXX";
        if (!::mkdtemp(&path[0])) {
            std::perror("mkdtemp");
            std::exit(1);
        }
    }
    ~TempDir()
    {
        const std::string command = "rm -rf '" + path + "'";
        (void)!std::system(command.c_str());
    }
    std::string path;
};

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

void report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))]; };
    std::printf("%-44s p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu dumps)\n", what, at(0.5), at(0.99), ms.back(),
                ms.size());
}

unsigned char g_frame[MCU_NORMAL_MSG_SIZE];

const unsigned char *frame(uint32_t p1)
{
    const uint32_t words[4] = {MCU_FRAME_NORMAL, 13078, p1, 1};
    std::memcpy(g_frame, words, sizeof words);
    return g_frame;
}

// Each round: a frame in, the reader held where the case says, a dump asked
// for and timed, the reader released.
std::vector<double> transportRounds(Hold hold, int rounds)
{
    TempDir dumps;
    Gate gate(hold);
    GateSink sink(gate);
    GateObserver observer(gate);
    unixpeer::Names names("dumpbench");
    unixpeer::Listener service(names.serviceName);
    McuEndpoint endpoint = names.endpoint();
    endpoint.dumpDir = dumps.path.c_str();
    McuTransport link(sink, endpoint, &observer);
    link.start();
    const int fd = service.accept(5000);
    if (fd < 0) {
        std::fprintf(stderr, "link did not connect\n");
        std::exit(1);
    }
    std::vector<double> ms;
    for (int i = 1; i <= rounds; ++i) {
        if (!unixpeer::writeFull(fd, frame(uint32_t(i)), MCU_NORMAL_MSG_SIZE) || !gate.waitForFrames(i)) {
            std::fprintf(stderr, "frame %d did not come through\n", i);
            std::exit(1);
        }
        const Clock::time_point asked = Clock::now();
        link.requestDump();
        const bool dumped = gate.waitForDumps(i);
        ms.push_back(msSince(asked));
        gate.release();
        if (!dumped) {
            std::fprintf(stderr, "no dump within 5 s\n");
            std::exit(1);
        }
    }
    link.stop();
    ::close(fd);
    return ms;
}

bool hasDump(const std::string &dir)
{
    DIR *d = ::opendir(dir.c_str());
    bool found = false;
    while (d && !found) {
        const dirent *e = ::readdir(d);
        if (!e)
            break;
        const size_t n = std::strlen(e->d_name);
        found = std::strncmp(e->d_name, "mcu-", 4) == 0 && n > 5 && std::strcmp(e->d_name + n - 5, ".pcap") == 0;
    }
    if (d)
        ::closedir(d);
    return found;
}

int pending(int fd)
{
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// One launcher process: greeted, fed frames until its standard output stays
// full, then SIGUSR2, timed until the dump is in place. -1 when a step fails.
double launcherRound(const char *launcher)
{
    TempDir dir;
    unixpeer::Names names("dumpbench");
    unixpeer::Listener service(names.serviceName);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        return -1;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("HEADUNIT_SETTINGS", (dir.path + "/settings.ini").c_str(), 1);
        ::setenv("XDG_STATE_HOME", dir.path.c_str(), 1);
        ::setenv("HEADUNIT_TEST_MCU_NAME", names.name.c_str(), 1);
        ::unsetenv("LOGS_DIRECTORY");
        ::dup2(out[1], 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execl(launcher, launcher, static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    double ms = -1;
    unsigned char ready[MCU_NORMAL_MSG_SIZE];
    const int fd = service.accept(10000);
    if (fd >= 0 && unixpeer::readFull(fd, ready, sizeof ready, 10000)) {
        // More frame lines than the pipe holds, in one send: a send a frame
        // would fill the socket's buffer with its overhead long before.
        std::vector<unsigned char> frames;
        for (uint32_t i = 0; i < 4000; ++i)
            frames.insert(frames.end(), frame(i), frame(i) + MCU_NORMAL_MSG_SIZE);
        (void)!::send(fd, frames.data(), frames.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        int last = -2, still = 0;
        for (int i = 0; i < 1000 && still < 20; ++i) {
            ::usleep(5000);
            const int now = pending(out[0]);
            still = now == last && now > 0 ? still + 1 : 0;
            last = now;
        }
        const std::string dumps = dir.path + "/headunit";
        if (still >= 20 && !hasDump(dumps)) {
            const Clock::time_point asked = Clock::now();
            ::kill(pid, SIGUSR2);
            while (!hasDump(dumps) && msSince(asked) < 5000)
                ::usleep(200);
            if (hasDump(dumps))
                ms = msSince(asked);
        }
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    if (fd >= 0)
        ::close(fd);
    ::close(out[0]);
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    static const char Usage[] =
        "usage: bench_mcu_dump_latency LAUNCHER [ROUNDS]\n"
        "Time from a flight recorder dump request to the dump in place, with the MCU\n"
        "link's reader waiting in read(), held in the sink and held in an observer\n"
        "(ROUNDS each, default 50); then LAUNCHER (launcher_e2e) with a standard output\n"
        "nobody reads, asked with SIGUSR2 (a tenth of ROUNDS, at least 3).\n";
    long rounds = 50;
    if (BenchArgs::asksHelp(argc, argv) || argc < 2 || argc > 3
        || (argc == 3 && !BenchArgs::positive(argv[2], 10000, &rounds)))
        return BenchArgs::usage(Usage, BenchArgs::asksHelp(argc, argv));
    std::signal(SIGPIPE, SIG_IGN);

    report("reader waiting in read():", transportRounds(Hold::None, int(rounds)));
    report("reader held in the sink:", transportRounds(Hold::Sink, int(rounds)));
    report("reader held in an observer:", transportRounds(Hold::Observer, int(rounds)));

    std::vector<double> ms;
    for (long i = 0; i < std::max(3L, rounds / 10); ++i) {
        const double round = launcherRound(argv[1]);
        if (round < 0) {
            std::fprintf(stderr, "launcher round %ld: no dump with its standard output stalled\n", i + 1);
            return 1;
        }
        ms.push_back(round);
    }
    report("launcher, its standard output stalled:", ms);
    return 0;
}

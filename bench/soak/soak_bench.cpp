// Resident memory of the launcher process under a hostile MCU service, for a
// bounded time:
//
//   bench_mcu_soak [--seconds N] [--rate EVENTS_PER_S] [--seed N] [--longest]
//                  [--log FILE] PROGRAM [ARGS...]
//
// PROGRAM is launcher_e2e, or a program that execs it (env with a preloaded
// heap profiler, say). It is started on this build tree's test socket name,
// with a settings file of its own and its output discarded (or written to
// FILE). This program plays the MCU service: it writes HostileFrames at the
// given rate (default 2000 a second for 60 s) in pieces of random size, reads
// and drops what the launcher sends back, and takes each new connection the
// launcher makes. After an event that breaks the framing it ends the
// connection 20 ms after its last byte went out: the launcher gets back into
// step with a stream only on a new one.
//
// VmRSS and VmHWM of the child are printed once a second; at the end come the
// resident memory at start (connected, before any frame), after warm-up (the
// first third of the run), at the end and at most, and the slope over the
// second half. Exit 0 when memory levelled off (the second half grew by less
// than 1 % of the resident size) and the launcher survived.

#include "benchargs.h"
#include "hostileframes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mcusocketname.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int seconds = 60;
    int rate = 2000;
    uint32_t seed = 1;
    HostileFrames::Mix mix = HostileFrames::Mix::Hostile;
    const char *log = "/dev/null"; // the child's stdout and stderr
    char **program = nullptr; // NULL-terminated argv of the child
};

struct Sample {
    double t;  // seconds since the first frame
    long rssKb;
    long hwmKb;
};

bool parse(int argc, char **argv, Options *options)
{
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string flag = argv[i];
        long value = 0;
        if (flag == "--longest") {
            options->mix = HostileFrames::Mix::Longest;
        } else if (i + 1 < argc && flag == "--log") {
            options->log = argv[++i];
        } else if (i + 1 < argc && (flag == "--seconds" || flag == "--rate" || flag == "--seed")) {
            if (!BenchArgs::positive(argv[++i], 1000000000, &value))
                return false;
            if (flag == "--seconds")
                options->seconds = int(value);
            else if (flag == "--rate")
                options->rate = int(value);
            else
                options->seed = uint32_t(value);
        } else {
            return false;
        }
    }
    options->program = argv + i;
    return i < argc;
}

int listenOn(const char *name)
{
    sockaddr_un addr;
    const socklen_t size = mcuSocketAddress(name, &addr);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), size) != 0 || ::listen(fd, 4) != 0)
        return -1;
    return fd;
}

// The child dies with us, so that no launcher outlives an interrupted run.
pid_t startChild(char **program, const std::string &settings, const char *log)
{
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("HEADUNIT_SETTINGS", settings.c_str(), 1);
    // The socket name compiled into the test build is the one listened on.
    ::unsetenv("HEADUNIT_TEST_MCU_NAME");
    const int out = ::open(log, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execvp(program[0], program);
    ::_exit(127);
}

bool readMemory(pid_t pid, long *rssKb, long *hwmKb)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    *rssKb = *hwmKb = -1;
    while (status >> key) {
        if (key == "VmRSS:")
            status >> *rssKb;
        else if (key == "VmHWM:")
            status >> *hwmKb;
        status.ignore(4096, '\n');
    }
    return *rssKb >= 0;
}

// Least-squares slope of RSS over time, in kB per second.
double slope(const std::vector<Sample> &samples)
{
    double n = 0, st = 0, sr = 0, stt = 0, str = 0;
    for (const Sample &s : samples) {
        n += 1;
        st += s.t;
        sr += double(s.rssKb);
        stt += s.t * s.t;
        str += s.t * double(s.rssKb);
    }
    const double d = n * stt - st * st;
    return n < 2 || d == 0 ? 0 : (n * str - st * sr) / d;
}

// The MCU end of the link: one connection at a time, a queue of bytes not yet
// written, and counts for the report.
struct Peer {
    int listener = -1;
    int fd = -1;
    std::vector<unsigned char> queue;
    size_t written = 0; // bytes of queue already sent
    bool ending = false;       // the queue ends with broken framing; no more events
    Clock::time_point endAt;   // when an ending connection is closed, once its queue is written
    long events = 0;
    long connections = 0;
    long bytesIn = 0;

    void acceptNew()
    {
        const int c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c < 0)
            return;
        if (fd >= 0)
            ::close(fd);
        fd = c;
        ++connections;
        // A new connection is a new stream: the rest of the old one is dropped.
        queue.clear();
        written = 0;
        ending = false;
    }

    void closeStream()
    {
        ::close(fd);
        fd = -1;
        ending = false;
    }

    void drain()
    {
        char buf[65536];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            bytesIn += n;
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            closeStream();
        }
    }

    // Pieces of random size, so that frames arrive split at any byte.
    void writeSome(std::mt19937 &rng)
    {
        const size_t left = queue.size() - written;
        const size_t piece = 1 + std::uniform_int_distribution<size_t>(0, std::min<size_t>(left, 2048) - 1)(rng);
        const ssize_t n = ::send(fd, &queue[written], piece, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            written += size_t(n);
        if (written == queue.size()) {
            queue.clear();
            written = 0;
            endAt = Clock::now() + std::chrono::milliseconds(20);
        }
    }
};

void stopChild(pid_t pid)
{
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        ::usleep(50 * 1000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char **argv)
{
    static const char Usage[] =
        "usage: bench_mcu_soak [--seconds N] [--rate EVENTS_PER_S] [--seed N] [--longest] [--log FILE]"
        " PROGRAM [ARGS...]\n"
        "Resident memory of PROGRAM (launcher_e2e) under a hostile MCU service; exit 0 when it levels off.\n";
    Options options;
    // Only the options before PROGRAM are this benchmark's.
    const bool help = argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
    if (help || !parse(argc, argv, &options))
        return BenchArgs::usage(Usage, help);
    Peer peer;
    peer.listener = listenOn("@" HEADUNIT_TEST_MCU_NAME);
    if (peer.listener < 0) {
        std::fprintf(stderr, "cannot listen on this build tree's test socket name: another run holds it\n");
        return 2;
    }
    char dir[] = "/tmp/hu-soak-XXXXXX";
    if (!::mkdtemp(dir)) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string settings = std::string(dir) + "/settings.ini";
    std::ofstream(settings) << "[setup]\nsysLang=3\nsyncRdsTime=true\nsysBeep=true\n";

    const pid_t pid = startChild(options.program, settings, options.log);
    if (pid < 0) {
        std::perror("fork");
        return 2;
    }
    HostileFrames frames(options.seed, options.mix);
    std::mt19937 pieces(options.seed);
    std::vector<Sample> samples;
    long startKb = -1, hwmKb = -1;
    bool died = false;

    // Connected and settled first: the resident size at start is taken before
    // any frame is written.
    const auto connectBy = Clock::now() + std::chrono::seconds(20);
    while (peer.fd < 0 && Clock::now() < connectBy) {
        pollfd p{peer.listener, POLLIN, 0};
        if (::poll(&p, 1, 100) == 1)
            peer.acceptNew();
    }
    if (peer.fd < 0) {
        std::fprintf(stderr, "the launcher never connected\n");
        died = true;
    } else {
        ::usleep(1000 * 1000);
        peer.drain();
        readMemory(pid, &startKb, &hwmKb);
        std::printf("start: pid %d, VmRSS %ld kB, VmHWM %ld kB; %d s at %d events/s, seed %u%s\n", int(pid), startKb,
                    hwmKb, options.seconds, options.rate, options.seed,
                    options.mix == HostileFrames::Mix::Longest ? ", longest journal lines only" : "");
        std::printf("%6s %10s %10s %10s %9s %12s\n", "t [s]", "VmRSS kB", "VmHWM kB", "events", "connects",
                    "bytes back");
    }

    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(options.seconds);
    auto nextSample = start + std::chrono::seconds(1);
    while (!died && Clock::now() < end) {
        pollfd fds[2] = {{peer.listener, POLLIN, 0}, {peer.fd, short(POLLIN | (peer.queue.empty() ? 0 : POLLOUT)), 0}};
        ::poll(fds, peer.fd >= 0 ? 2 : 1, 10);
        if (fds[0].revents & POLLIN)
            peer.acceptNew();
        if (peer.fd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            peer.drain();
        if (peer.fd >= 0 && (fds[1].revents & POLLOUT) && !peer.queue.empty())
            peer.writeSome(pieces);

        // Paced, and never more than 64 kB ahead of what the launcher takes.
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        while (peer.fd >= 0 && !peer.ending && peer.events < long(elapsed * options.rate)
               && peer.queue.size() < 65536) {
            peer.ending = frames.append(peer.queue);
            ++peer.events;
        }
        if (peer.fd >= 0 && peer.ending && peer.queue.empty() && now >= peer.endAt)
            peer.closeStream();

        if (now >= nextSample) {
            nextSample += std::chrono::seconds(1);
            Sample s{elapsed, -1, -1};
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid || !readMemory(pid, &s.rssKb, &s.hwmKb)) {
                std::printf("the launcher died after %.0f s (%s %d)\n", elapsed,
                            WIFSIGNALED(status) ? "signal" : "exit code",
                            WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
                died = true;
                break;
            }
            samples.push_back(s);
            std::printf("%6.0f %10ld %10ld %10ld %9ld %12ld\n", s.t, s.rssKb, s.hwmKb, peer.events, peer.connections,
                        peer.bytesIn);
            std::fflush(stdout);
        }
    }

    if (!died)
        stopChild(pid);
    else if (::waitpid(pid, nullptr, WNOHANG) == 0)
        stopChild(pid);
    std::remove(settings.c_str());
    ::rmdir(dir);
    if (died || samples.size() < 4)
        return 1;

    const Sample warm = samples[samples.size() / 3];
    const Sample last = samples.back();
    long maxKb = 0;
    for (const Sample &s : samples)
        maxKb = std::max(maxKb, s.rssKb);
    const std::vector<Sample> secondHalf(samples.begin() + long(samples.size() / 2), samples.end());
    const double kbPerS = slope(secondHalf);
    const double halfRiseKb = kbPerS * (secondHalf.back().t - secondHalf.front().t);
    const bool levelled = halfRiseKb < 0.01 * double(last.rssKb);

    std::printf("\nrun: %.0f s, %ld events, %ld connections, %ld bytes back from the launcher\n", last.t, peer.events,
                peer.connections, peer.bytesIn);
    std::printf("VmRSS: start %ld kB, after warm-up (%.0f s) %ld kB, end %ld kB, max %ld kB; VmHWM %ld kB\n", startKb,
                warm.t, warm.rssKb, last.rssKb, maxKb, last.hwmKb);
    std::printf("second half: %+.1f kB/min (%+.0f kB over %.0f s)\n", kbPerS * 60, halfRiseKb,
                secondHalf.back().t - secondHalf.front().t);
    std::printf("verdict: %s\n", levelled ? "levels off" : "still rising");
    return levelled ? 0 : 1;
}

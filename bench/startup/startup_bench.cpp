// Start-up latency and memory of the launcher next to a bare program that does
// only the work the launcher cannot skip before its first frame.
//
//   bench_startup <launcher> <bare program> [runs]
//
// Each run starts the program, listens as the MCU service on a socket name of
// this benchmark's own (handed to launcher_e2e in HEADUNIT_TEST_MCU_NAME), and
// measures from fork to the 16-byte application-ready frame. Resident memory is read 300 ms later, when start-up has settled.
// The launcher's own start-up checkpoints (its headunit.startup table) are
// collected from its output and printed as medians too.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mcusocketname.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double ms = -1;
    long rssKb = -1;
};

int listenOn(const char *name)
{
    sockaddr_un addr;
    const socklen_t length = mcuSocketAddress(name, &addr);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), length) != 0
        || ::listen(fd, 1) != 0) {
        std::perror("listen");
        std::exit(2);
    }
    return fd;
}

long residentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = -1;
            status >> kb;
            return kb;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

bool readFull(int fd, char *buf, size_t n, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t got = 0;
    while (got < n) {
        const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0)
            return false;
        const ssize_t r = ::read(fd, buf + got, n - got);
        if (r <= 0)
            return false;
        got += size_t(r);
    }
    return true;
}

// Checkpoint name to milliseconds, from the table a launcher wrote to path.
using Checkpoints = std::vector<std::pair<std::string, double>>;
Checkpoints readCheckpoints(const std::string &path)
{
    Checkpoints found;
    std::ifstream log(path);
    std::string line;
    bool inTable = false;
    while (std::getline(log, line)) {
        if (line.find("start-up checkpoints") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable)
            continue;
        const size_t last = line.find_last_of(' ');
        if (line.compare(0, 2, "  ") != 0 || last == std::string::npos)
            break;
        const size_t nameEnd = line.find_last_not_of(' ', last);
        const std::string value = line.substr(last + 1);
        found.emplace_back(line.substr(2, nameEnd - 1), value == "-" ? -1.0 : std::atof(value.c_str()));
    }
    return found;
}

Sample runOnce(const char *program, const char *name, int listener, const char *logPath)
{
    Sample sample;
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("QT_LOGGING_RULES", "*.debug=false", 1);
        const int out = logPath ? ::open(logPath, O_WRONLY | O_CREAT | O_TRUNC, 0600) : ::open("/dev/null", O_WRONLY);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execl(program, program, name, static_cast<char *>(nullptr));
        ::_exit(127);
    }
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 10000) == 1) {
        const int fd = ::accept(listener, nullptr, nullptr);
        char frame[16];
        if (fd >= 0 && readFull(fd, frame, sizeof frame, 10000)) {
            sample.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            ::usleep(300 * 1000);
            sample.rssKb = residentKb(pid);
        }
        if (fd >= 0)
            ::close(fd);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return sample;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <launcher> <bare program> [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 20;
    const std::string own = "bench-" + std::to_string(::getpid());
    ::setenv("HEADUNIT_TEST_MCU_NAME", own.c_str(), 1);
    const std::string service = "@" + own;
    const char *name = service.c_str();
    const int listener = listenOn(name);

    const std::string logPath = "/tmp/hu-" + own + ".log";
    std::vector<double> launcherMs, bareMs, launcherKb, bareKb;
    std::vector<std::string> checkpointOrder;
    std::map<std::string, std::vector<double>> checkpointMs;
    for (int i = 0; i < runs; ++i) {
        // Interleaved, so that a busy moment of the machine hits both alike.
        const Sample l = runOnce(argv[1], name, listener, logPath.c_str());
        for (const auto &checkpoint : readCheckpoints(logPath)) {
            if (!checkpointMs.count(checkpoint.first))
                checkpointOrder.push_back(checkpoint.first);
            checkpointMs[checkpoint.first].push_back(checkpoint.second);
        }
        const Sample b = runOnce(argv[2], name, listener, nullptr);
        if (l.ms < 0 || b.ms < 0) {
            std::fprintf(stderr, "run %d: a program never sent its frame\n", i);
            return 1;
        }
        launcherMs.push_back(l.ms);
        bareMs.push_back(b.ms);
        launcherKb.push_back(double(l.rssKb));
        bareKb.push_back(double(b.rssKb));
    }
    ::unlink(("/tmp/hu-" + own + ".sock").c_str()); // left by the killed launchers
    ::unlink(logPath.c_str());
    const double lm = median(launcherMs), bm = median(bareMs);
    const double lk = median(launcherKb), bk = median(bareKb);
    std::printf("runs: %d (medians)\n", runs);
    std::printf("start to ready frame: launcher %.1f ms, bare %.1f ms, ratio %.2f (target <= 1.20)\n", lm, bm, lm / bm);
    std::printf("resident memory:      launcher %.0f kB, bare %.0f kB, ratio %.2f (target <= 1.20)\n", lk, bk, lk / bk);
    std::printf("launcher checkpoints, ms since the process was created (medians of %d runs):\n", runs);
    for (const std::string &checkpoint : checkpointOrder)
        std::printf("  %-26s %9.1f\n", checkpoint.c_str(), median(checkpointMs[checkpoint]));
    return 0;
}

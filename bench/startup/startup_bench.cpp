// Start-up latency and memory of the launcher next to a bare program that does
// only the work the launcher cannot skip before its first frame.
//
//   bench_startup LAUNCHER BARE [RUNS]
//
// Each run starts the program, listens as the MCU service on a socket name of
// this benchmark's own (handed to launcher_e2e in HEADUNIT_TEST_MCU_NAME), and
// measures from fork to the 16-byte application-ready frame; the two programs
// take turns, so that a busy moment of the machine hits both alike. Resident
// memory and the shared objects mapped are read 300 ms later, when start-up
// has settled.
//
// Where the time goes: both programs report when their steps ended (the
// launcher its headunit.startup checkpoint table, the bare program one line),
// and the differences of those give, per run, the time from fork to main
// (loading and static initialisers), to the application object, and to the
// ready frame; the launcher's own steps in between are itemised. One more run
// of each under LD_DEBUG=statistics gives the dynamic loader's share.
#include "benchargs.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
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
    double ms = -1;     // fork to the ready frame
    long rssKb = -1;
    long objects = -1;  // shared objects mapped
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

long sharedObjects(pid_t pid)
{
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::set<std::string> objects;
    std::string line;
    while (std::getline(maps, line)) {
        const size_t path = line.find('/');
        if (path != std::string::npos && line.find(".so", path) != std::string::npos)
            objects.insert(line.substr(path));
    }
    return long(objects.size());
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

// Step name to milliseconds, in the order written: the launcher's table
// (since the process was created), or the bare program's line (since main).
using Checkpoints = std::vector<std::pair<std::string, double>>;
Checkpoints readCheckpoints(const std::string &path)
{
    Checkpoints found;
    std::ifstream log(path);
    std::string line;
    bool inTable = false;
    while (std::getline(log, line)) {
        const std::string bare = "bare checkpoints: ";
        if (line.compare(0, bare.size(), bare) == 0) {
            // "name 1.234, name 5.678"
            size_t at = bare.size();
            while (at < line.size()) {
                size_t end = line.find(", ", at);
                if (end == std::string::npos)
                    end = line.size();
                const std::string item = line.substr(at, end - at);
                const size_t space = item.find_last_of(' ');
                if (space != std::string::npos)
                    found.emplace_back(item.substr(0, space), std::atof(item.c_str() + space + 1));
                at = end + 2;
            }
            continue;
        }
        if (line.find("start-up checkpoints") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable)
            continue;
        const size_t last = line.find_last_of(' ');
        if (line.compare(0, 2, "  ") != 0 || last == std::string::npos) {
            inTable = false;
            continue;
        }
        const size_t nameEnd = line.find_last_not_of(' ', last);
        const std::string value = line.substr(last + 1);
        found.emplace_back(line.substr(2, nameEnd - 1), value == "-" ? -1.0 : std::atof(value.c_str()));
    }
    return found;
}

double valueOf(const Checkpoints &checkpoints, const std::string &name)
{
    for (const auto &checkpoint : checkpoints) {
        if (checkpoint.first == name)
            return checkpoint.second;
    }
    return -1;
}

// The dynamic loader's own report of one run: "<cycles> cycles, <n> relocations".
std::string loaderStatistics(const std::string &path)
{
    std::ifstream log(path);
    std::string line, cycles = "?", relocations = "?";
    while (std::getline(log, line)) {
        size_t at = line.find("total startup time in dynamic loader: ");
        if (at != std::string::npos)
            cycles = line.substr(at + 38, line.find(' ', at + 38) - at - 38);
        at = line.find("number of relocations: ");
        if (at != std::string::npos && line.find("final") == std::string::npos)
            relocations = line.substr(at + 23);
    }
    return cycles + " cycles, " + relocations + " relocations";
}

Sample runOnce(const char *program, const char *name, int listener, const char *logPath, bool loaderStatistics = false)
{
    Sample sample;
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("QT_LOGGING_RULES", "*.debug=false", 1);
        if (loaderStatistics)
            ::setenv("LD_DEBUG", "statistics", 1);
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
            sample.objects = sharedObjects(pid);
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

// Per-run figures, by row of the breakdown.
using Rows = std::map<std::string, std::vector<double>>;

void printRow(const char *label, Rows &launcher, Rows &bare, const std::string &key)
{
    const double l = median(launcher[key]);
    std::printf("  %-42s %8.2f", label, l);
    if (bare.count(key)) {
        const double b = median(bare[key]);
        std::printf(" %8.2f %+8.2f\n", b, l - b);
    } else {
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char **argv)
{
    static const char Usage[] =
        "usage: bench_startup LAUNCHER BARE [RUNS]\n"
        "Start-up of LAUNCHER (launcher_e2e) next to BARE (bench_bare_start), RUNS turns of each\n"
        "(default 20): time from fork to the application-ready frame, resident memory, and\n"
        "where the time goes.\n";
    long runs = 20;
    if (BenchArgs::asksHelp(argc, argv) || argc < 3 || argc > 4
        || (argc == 4 && !BenchArgs::positive(argv[3], 10000, &runs)))
        return BenchArgs::usage(Usage, BenchArgs::asksHelp(argc, argv));
    for (int i = 1; i < 3; ++i) {
        if (::access(argv[i], X_OK) != 0) {
            std::fprintf(stderr, "%s: not a program\n", argv[i]);
            return BenchArgs::usage(Usage, false);
        }
    }
    const std::string own = "bench-" + std::to_string(::getpid());
    ::setenv("HEADUNIT_TEST_MCU_NAME", own.c_str(), 1);
    const std::string service = "@" + own;
    const char *name = service.c_str();
    const int listener = listenOn(name);

    const std::string logPath = "/tmp/hu-" + own + ".log";
    const std::string bareLogPath = "/tmp/hu-" + own + "-bare.log";
    std::vector<double> launcherMs, bareMs, launcherKb, bareKb, launcherObjects, bareObjects;
    std::vector<std::string> checkpointOrder;
    std::map<std::string, std::vector<double>> checkpointMs;
    Rows launcherRows, bareRows;
    const char *const OwnSteps[] = {"settings applied", "framework managers up", "first MCU connection",
                                    "application-ready sent"};
    for (long i = 0; i < runs; ++i) {
        const Sample l = runOnce(argv[1], name, listener, logPath.c_str());
        const Checkpoints lc = readCheckpoints(logPath);
        const Sample b = runOnce(argv[2], name, listener, bareLogPath.c_str());
        const Checkpoints bc = readCheckpoints(bareLogPath);
        if (l.ms < 0 || b.ms < 0) {
            std::fprintf(stderr, "run %ld: a program never sent its frame\n", i);
            return 1;
        }
        launcherMs.push_back(l.ms);
        bareMs.push_back(b.ms);
        launcherKb.push_back(double(l.rssKb));
        bareKb.push_back(double(b.rssKb));
        launcherObjects.push_back(double(l.objects));
        bareObjects.push_back(double(b.objects));
        for (const auto &checkpoint : lc) {
            if (!checkpointMs.count(checkpoint.first))
                checkpointOrder.push_back(checkpoint.first);
            checkpointMs[checkpoint.first].push_back(checkpoint.second);
        }

        // The launcher's times count from the process's creation in clock
        // ticks (10 ms), so only their differences are exact; fork to main
        // is what the run took beyond main's own part.
        const double entered = valueOf(lc, "main entered"), constructed = valueOf(lc, "application constructed"),
                     sent = valueOf(lc, "application-ready sent");
        if (entered >= 0 && constructed >= 0 && sent >= 0) {
            launcherRows["fork"].push_back(l.ms - (sent - entered));
            launcherRows["application"].push_back(constructed - entered);
            launcherRows["own"].push_back(sent - constructed);
            double previous = constructed;
            for (const char *step : OwnSteps) {
                const double at = valueOf(lc, step);
                if (at >= 0) {
                    launcherRows[step].push_back(at - previous);
                    previous = at;
                }
            }
        }
        const double bareConstructed = valueOf(bc, "application constructed"), bareSent = valueOf(bc, "ready sent");
        if (bareConstructed >= 0 && bareSent >= 0) {
            bareRows["fork"].push_back(b.ms - bareSent);
            bareRows["application"].push_back(bareConstructed);
            bareRows["own"].push_back(bareSent - bareConstructed);
        }
        launcherRows["total"].push_back(l.ms);
        bareRows["total"].push_back(b.ms);
    }
    runOnce(argv[1], name, listener, logPath.c_str(), true);
    const std::string launcherLoader = loaderStatistics(logPath);
    runOnce(argv[2], name, listener, bareLogPath.c_str(), true);
    const std::string bareLoader = loaderStatistics(bareLogPath);
    ::unlink(("/tmp/hu-" + own + ".sock").c_str()); // left by the killed launchers
    ::unlink(logPath.c_str());
    ::unlink(bareLogPath.c_str());

    const double lm = median(launcherMs), bm = median(bareMs);
    const double lk = median(launcherKb), bk = median(bareKb);
    std::printf("runs: %ld of each, side by side (medians)\n", runs);
    std::printf("start to ready frame: launcher %.1f ms, bare %.1f ms, ratio %.3f (target <= 1.05)\n", lm, bm, lm / bm);
    std::printf("launcher's own work, application constructed to application-ready sent: %.2f ms (target <= 1.5)\n",
                median(launcherRows["own"]));
    std::printf("resident memory: launcher %.0f kB, bare %.0f kB, ratio %.2f (target <= 1.20)\n", lk, bk, lk / bk);
    std::printf("shared objects mapped: launcher %.0f, bare %.0f\n", median(launcherObjects), median(bareObjects));
    std::printf("dynamic loader (LD_DEBUG=statistics, one run each): launcher %s; bare %s\n", launcherLoader.c_str(),
                bareLoader.c_str());
    std::printf("where the time goes, ms (medians of the runs' own differences):\n");
    std::printf("  %-42s %8s %8s %8s\n", "", "launcher", "bare", "more");
    printRow("fork to main (loading, static initialisers)", launcherRows, bareRows, "fork");
    printRow("main to application object", launcherRows, bareRows, "application");
    printRow("application object to ready frame sent", launcherRows, bareRows, "own");
    for (const char *step : OwnSteps)
        printRow((std::string("  to ") + step).c_str(), launcherRows, bareRows, step);
    printRow("fork to ready frame received", launcherRows, bareRows, "total");
    std::printf("launcher checkpoints, ms since the process was created (medians of %ld runs):\n", runs);
    for (const std::string &checkpoint : checkpointOrder)
        std::printf("  %-26s %9.2f\n", checkpoint.c_str(), median(checkpointMs[checkpoint]));
    return 0;
}

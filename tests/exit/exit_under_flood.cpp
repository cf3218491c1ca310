// The launcher ends cleanly when it is told to while frames pour in:
//
//   exit_under_flood LAUNCHER RUNS
//
// Each run starts LAUNCHER (launcher_e2e, usually of a sanitizer build) on
// socket names and a state directory of its own, plays an MCU service that
// writes key presses and long frames as fast as the launcher reads, asks for
// a flight recorder dump (SIGUSR2) every 40 ms, and sends SIGTERM at a point
// that moves from run to run. Every run must exit 0 and leave no
// sanitizer report in its standard error. Plain POSIX, no Qt.

#include "unixpeer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void putWord(std::string *out, uint32_t w)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(char(w >> (8 * i)));
}

// One round of what the service writes: key presses and a version text.
std::string floodRound()
{
    std::string s;
    for (int i = 0; i < 16; ++i) {
        for (uint32_t w : {1u, 0x3316u, uint32_t(i), 1u})
            putWord(&s, w);
    }
    for (uint32_t w : {2u, 25u, 18u})
        putWord(&s, w);
    s.append("\0V1.2\0", 6);
    return s;
}

// To the launcher's main thread, which lives as long as the process. Sent to
// the process, the kernel may hand a signal to any thread, and a
// ThreadSanitizer build runs the handler only when that thread next calls
// into the runtime: one of Qt's or PulseAudio's short-lived threads may end
// first and take the signal with it.
void signalMainThread(pid_t pid, int signo)
{
    ::syscall(SYS_tgkill, pid, pid, signo);
}

// Empty when the run ended as it should, else what went wrong.
std::string runOnce(const char *launcher, int run, const std::filesystem::path &dir)
{
    const unixpeer::Names names("exit");
    unixpeer::Listener service(names.serviceName);
    if (!service.isListening())
        return "cannot listen on " + names.serviceName;
    std::filesystem::create_directories(dir);
    const std::string errPath = (dir / "stderr").string();

    // The child would write out what stdout still holds when it reopens it.
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("HEADUNIT_TEST_MCU_NAME", names.name.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("HEADUNIT_SETTINGS", (dir / "settings.ini").c_str(), 1);
        setenv("XDG_STATE_HOME", dir.c_str(), 1);
        setenv("QT_LOGGING_RULES", "headunit.platform.debug=false", 1);
        freopen("/dev/null", "w", stdout);
        freopen(errPath.c_str(), "w", stderr);
        execl(launcher, launcher, static_cast<char *>(nullptr));
        _exit(127);
    }
    const int fd = service.accept(30000);
    std::string failure;
    char ready[16];
    if (fd < 0 || !unixpeer::readFull(fd, ready, sizeof ready, 30000))
        failure = "no connection and ready frame within 30 s";
    const std::string frames = floodRound();
    const auto killAt = Clock::now() + std::chrono::milliseconds(run * 37 % 300);
    const auto giveUp = Clock::now() + std::chrono::seconds(60);
    bool killed = false;
    int status = 0;
    size_t sent = 0;
    auto nextDump = Clock::now();
    for (;;) {
        if (!killed && (Clock::now() >= killAt || !failure.empty())) {
            signalMainThread(pid, SIGTERM);
            killed = true;
        }
        if (waitpid(pid, &status, WNOHANG) == pid)
            break;
        // The flight recorder dumps now and then, so that its thread is busy too.
        if (!killed && Clock::now() >= nextDump) {
            signalMainThread(pid, SIGUSR2);
            nextDump += std::chrono::milliseconds(40);
        }
        if (Clock::now() > giveUp) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            failure = "still running 60 s after SIGTERM";
            break;
        }
        if (fd < 0) {
            ::poll(nullptr, 0, 5);
            continue;
        }
        // Whole frames only: a cut one would turn the rest of the stream into noise.
        const ssize_t n = ::send(fd, frames.data() + sent, frames.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0 && (sent += size_t(n)) == frames.size()) {
            sent = 0;
        } else if (n < 0) {
            char drain[4096];
            while (::recv(fd, drain, sizeof drain, MSG_DONTWAIT) > 0) {
            }
            struct pollfd p = {fd, POLLOUT, 0};
            ::poll(&p, 1, 5);
        }
    }
    if (fd >= 0)
        ::close(fd);
    std::ifstream err(errPath);
    std::stringstream text;
    text << err.rdbuf();
    const std::string output = text.str();
    if (!failure.empty())
        return failure + "\n" + output;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string how = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                                  : "signal " + std::to_string(WTERMSIG(status));
        return "ended by " + how + "\n" + output;
    }
    for (const char *report : {"Sanitizer", "runtime error:"}) {
        if (output.find(report) != std::string::npos)
            return "sanitizer report\n" + output;
    }
    return std::string();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 || std::atoi(argv[2]) <= 0) {
        std::fprintf(stderr, "usage: %s LAUNCHER RUNS\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const int runs = std::atoi(argv[2]);
    const std::filesystem::path top = std::filesystem::temp_directory_path() / ("exit-flood-" + std::to_string(getpid()));
    const auto start = Clock::now();
    int failed = 0;
    for (int run = 0; run < runs; ++run) {
        const std::filesystem::path dir = top / std::to_string(run);
        const std::string failure = runOnce(argv[1], run, dir);
        if (!failure.empty()) {
            ++failed;
            std::printf("run %d: %s\n", run + 1, failure.c_str());
        }
        std::filesystem::remove_all(dir);
    }
    std::filesystem::remove_all(top);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%d of %d runs ended by SIGTERM under a flood exited 0 without a report (%.1f s, %.0f ms a run)\n",
                runs - failed, runs, seconds, 1000 * seconds / runs);
    return failed == 0 ? 0 : 1;
}

// On the head unit the launcher runs until the power goes and the platform
// decides what is visible. On a PC a person or a test does both with signals:
//   SIGTERM, SIGINT (Ctrl-C)  quit the event loop, so that main() tears
//                             everything down in its order and returns;
//   SIGUSR1                   toggles Application::isApVisible();
//   SIGUSR2                   asks the launcher's MCU link for a dump of its
//                             flight recorder, the call a diagnostics service
//                             of the platform makes.
// A signal handler may only write to a pipe; a thread of the platform reads
// the signal's number from it and acts at once, from an ordinary thread.
// A signal that comes again before its number was read is counted and not
// written again, so the pipe holds at most one byte per signal and never
// fills; its write end is non-blocking all the same, so that a handler can
// never wait. Every SIGUSR1 still toggles; SIGTERM, SIGINT and SIGUSR2 that
// come together act once, as they would have anyway.

#include "journal.h"
#include "mainthread_p.h"
#include "visibility_p.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};
// Per signal: how often it came since the watcher last took its count.
std::atomic<unsigned> g_received[NSIG];
static_assert(std::atomic<unsigned>::is_always_lock_free, "signal handlers use only lock-free atomics");

void onSignal(int signo)
{
    const int saved = errno;
    if (g_received[signo].fetch_add(1) == 0) {
        const unsigned char byte = static_cast<unsigned char>(signo);
        (void)!::write(g_signalPipe[1], &byte, 1);
    }
    errno = saved;
}

void quitOrDie(int signo)
{
    // No event loop to leave (before the application exists, or once its
    // loop was left): end the way the signal always does.
    if (!HostMainThread::requestQuit()) {
        std::signal(signo, SIG_DFL);
        std::raise(signo);
    }
}

// The launcher exports tqappframework::MainAppProtocolComm::DumpFlightRecorder()
// for the platform's libraries. The host platform is built without the
// launcher's headers, so it finds the call by its symbol when asked, as a
// library loaded into the launcher resolves it.
void requestFlightRecorderDump()
{
    using DumpCall = int (*)();
    const auto dump = reinterpret_cast<DumpCall>(
        ::dlsym(RTLD_DEFAULT, "_ZN14tqappframework19MainAppProtocolComm18DumpFlightRecorderEv"));
    if (!dump) {
        HostJournal::record(QStringLiteral("SIGUSR2: no MCU flight recorder in this process"));
        return;
    }
    HostJournal::record(QStringLiteral("SIGUSR2: MainAppProtocolComm::DumpFlightRecorder() = %1").arg(dump()));
}

void watchSignals()
{
    for (;;) {
        unsigned char signo;
        const ssize_t n = ::read(g_signalPipe[0], &signo, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        const unsigned times = g_received[signo].exchange(0);
        if (signo == SIGUSR1) {
            for (unsigned i = 0; i < times; ++i)
                HostVisibility::toggle();
        } else if (signo == SIGUSR2) {
            requestFlightRecorderDump();
        } else {
            quitOrDie(signo);
        }
    }
}

const bool g_watching = [] {
    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0 || ::fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK) != 0)
        return false;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) {
        if (sigaction(signo, &action, nullptr) != 0)
            return false;
    }
    // Blocked in read() until a signal comes; ends with the process.
    std::thread(watchSignals).detach();
    return true;
}();

} // namespace

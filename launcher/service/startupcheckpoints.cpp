#include "startupcheckpoints.h"

#include "servicestatus.h"

#include <checkedclock.h>

#include <QString>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcStartup, "headunit.startup", QtInfoMsg)

namespace StartupCheckpoints {

namespace {

const char *const Names[Count] = {
    "main entered",
    "application constructed",
    "settings applied",
    "framework managers up",
    "first MCU connection",
    "application-ready sent",
    "first frame shown",
    "stage 0 started",
    "stage 1 started",
    "all services ready",
};

std::atomic<int64_t> g_reachedNs[Count];   // any thread; 0 until reached
int64_t g_processStartNs = 0;               // written once under g_startOnce
std::once_flag g_startOnce;
std::atomic<bool> g_reported{false};

// The kernel keeps when the process was created, in clock ticks since boot
// (field 22 of /proc/self/stat), on the boot-time clock. Read with plain
// system calls into a stack buffer: nothing is allocated.
int64_t readProcessStartNs()
{
    char buf[1024];
    const int fd = ::open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return -1;
    buf[n] = '\0';
    // The command name in field 2 may hold spaces and parentheses of its own.
    const char *p = std::strrchr(buf, ')');
    if (!p)
        return -1;
    for (int field = 2; field < 22 && p; ++field)
        p = std::strchr(p + 1, ' ');
    if (!p)
        return -1;
    const long long ticks = std::strtoll(p + 1, nullptr, 10);
    const long hz = ::sysconf(_SC_CLK_TCK);
    return hz > 0 ? int64_t(ticks) * (1000000000LL / hz) : -1;
}

// -1 when the clock cannot be read: the checkpoint then stays unreached.
int64_t bootTimeNs()
{
    int64_t ns = 0;
    return clockNs(CLOCK_BOOTTIME, &ns) ? ns : -1;
}

} // namespace

void reach(Checkpoint checkpoint)
{
    std::call_once(g_startOnce, [] { g_processStartNs = readProcessStartNs(); });
    const int64_t now = bootTimeNs();
    if (g_processStartNs < 0 || now < 0 || checkpoint < 0 || checkpoint >= Count)
        return;
    // Ticks round the start down, so every checkpoint lies after it.
    int64_t unset = 0;
    const int64_t ns = std::max<int64_t>(1, now - g_processStartNs);
    g_reachedNs[checkpoint].compare_exchange_strong(unset, ns, std::memory_order_relaxed);
}

double elapsedMs(Checkpoint checkpoint)
{
    const int64_t ns = g_reachedNs[checkpoint].load(std::memory_order_relaxed);
    return ns == 0 ? -1.0 : double(ns) / 1e6;
}

const char *name(Checkpoint checkpoint)
{
    return Names[checkpoint];
}

void report()
{
    if (g_reported.exchange(true))
        return;
    QString table = QStringLiteral("start-up checkpoints, ms since the process was created:");
    QString summary;
    for (int i = 0; i < Count; ++i) {
        const double ms = elapsedMs(Checkpoint(i));
        const QString value = ms < 0 ? QStringLiteral("-") : QString::number(ms, 'f', 2);
        table += QStringLiteral("\n  %1 %2").arg(QString::fromLatin1(Names[i]), -26).arg(value, 9);
        summary += QStringLiteral("%1%2 %3").arg(i ? QStringLiteral(", ") : QString(), QString::fromLatin1(Names[i]),
                                               ms < 0 ? QStringLiteral("-") : QString::number(qRound(ms)));
    }
    qCInfo(lcStartup).noquote() << table;
    ServiceStatus::startupSummary(QStringLiteral("start-up (ms): ") + summary);
}

} // namespace StartupCheckpoints

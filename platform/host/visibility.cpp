#include <application.h>

#include "hostplatform.h"
#include "journal.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

// The head unit hides the launcher while another application owns the screen.
// On the host a person toggles that with SIGUSR1 (kill -USR1 <pid>) and tests
// call HostPlatform::setVisible(). The handler only flips a lock-free atomic,
// which is all a signal handler may do; the change reaches the journal the next
// time anyone asks.

namespace {

std::atomic<bool> g_visible{true};
std::atomic<bool> g_journalled{true}; // the state the journal last reported

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

void toggleVisible(int)
{
    g_visible.store(!g_visible.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

void journalChange(bool visible)
{
    if (g_journalled.exchange(visible) != visible)
        HostJournal::record(QStringLiteral("Application::isApVisible() changed to %1").arg(HostJournal::arg(visible)));
}

const bool g_installed = [] {
    const char *initial = std::getenv("HEADUNIT_VISIBLE");
    const bool visible = !(initial && std::strcmp(initial, "0") == 0);
    g_visible = visible;
    g_journalled = visible;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = toggleVisible;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGUSR1, &action, nullptr) == 0;
}();

} // namespace

bool Application::isApVisible()
{
    const bool visible = g_visible.load(std::memory_order_relaxed);
    journalChange(visible);
    return visible;
}

namespace HostPlatform {

void setVisible(bool visible)
{
    g_visible = visible;
    journalChange(visible);
}

bool isVisible()
{
    return g_visible;
}

} // namespace HostPlatform

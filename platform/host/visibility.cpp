#include <application.h>

#include "hostplatform.h"
#include "journal.h"
#include "visibility_p.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

// The head unit hides the launcher while another application owns the screen.
// On the host a person toggles that with SIGUSR1 (kill -USR1 <pid>, handled by
// the platform's signal thread) and tests call HostPlatform::setVisible().
// Every change is journalled when it happens.

namespace {

std::mutex g_mutex;             // orders changes with their journal lines
std::atomic<bool> g_visible{[] {
    const char *initial = std::getenv("HEADUNIT_VISIBLE");
    return !(initial && std::strcmp(initial, "0") == 0);
}()};

// Caller holds g_mutex.
void changeLocked(bool visible)
{
    if (g_visible.exchange(visible) != visible)
        HostJournal::record(QStringLiteral("Application::isApVisible() changed to %1").arg(HostJournal::arg(visible)));
}

} // namespace

bool Application::isApVisible()
{
    return g_visible.load(std::memory_order_relaxed);
}

namespace HostVisibility {

void toggle()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    changeLocked(!g_visible.load());
}

} // namespace HostVisibility

namespace HostPlatform {

void setVisible(bool visible)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    changeLocked(visible);
}

bool isVisible()
{
    return g_visible;
}

} // namespace HostPlatform

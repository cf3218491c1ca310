#include "mcudumper.h"

#include "mculinkobserver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// 1024 records of at most 16 + 12 + 268 bytes, and the file header.
static_assert(24 + McuFlightRecorder::Capacity * (16 + McuCapturePseudoHeaderSize + McuCaptureMaxKept) < 1024 * 1024,
              "a dump stays under 1 MB");

const char Prefix[] = "mcu-";
const char Suffix[] = ".pcap";

// Dumps are ordered by the sequence number in their name, not by time: the
// launcher itself moves the wall clock, and file times with it.
unsigned sequenceOf(const char *name)
{
    const size_t len = std::strlen(name);
    if (len < sizeof Prefix + sizeof Suffix || std::strncmp(name, Prefix, sizeof Prefix - 1) != 0
        || std::strcmp(name + len - (sizeof Suffix - 1), Suffix) != 0)
        return 0;
    return unsigned(std::strtoul(name + sizeof Prefix - 1, nullptr, 10));
}

// mkdir -p, for a PC whose state directory does not exist yet.
bool makeDirectories(const std::string &dir)
{
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at < dir.size() && dir[at] != '/')
            continue;
        const std::string part = dir.substr(0, at);
        if (::mkdir(part.c_str(), 0750) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

McuDumper::McuDumper(const McuFlightRecorder &recorder, McuLinkObserver *observer)
    : m_recorder(recorder)
    , m_observer(observer)
    , m_thread()
{
    pthread_mutex_init(&m_mutex, nullptr);
    pthread_cond_init(&m_wake, nullptr);
}

McuDumper::~McuDumper()
{
    stop();
    pthread_cond_destroy(&m_wake);
    pthread_mutex_destroy(&m_mutex);
}

void McuDumper::start(const char *dir)
{
    if (m_running || !dir || !*dir)
        return;
    m_dir = dir;
    m_stopping = false;
    m_running = pthread_create(&m_thread, nullptr, entry, this) == 0;
}

void McuDumper::stop()
{
    if (!m_running)
        return;
    pthread_mutex_lock(&m_mutex);
    m_stopping = true;
    pthread_cond_signal(&m_wake);
    pthread_mutex_unlock(&m_mutex);
    pthread_join(m_thread, nullptr);
    m_running = false;
}

void McuDumper::request(const char *reason)
{
    pthread_mutex_lock(&m_mutex);
    if (!m_pending)
        m_pending = reason;
    pthread_cond_signal(&m_wake);
    pthread_mutex_unlock(&m_mutex);
}

void *McuDumper::entry(void *self)
{
    static_cast<McuDumper *>(self)->run();
    return nullptr;
}

// Dumper thread. A pending request is still written when stop() comes.
void McuDumper::run()
{
    for (;;) {
        pthread_mutex_lock(&m_mutex);
        while (!m_pending && !m_stopping)
            pthread_cond_wait(&m_wake, &m_mutex);
        const char *reason = m_pending;
        const bool stopping = m_stopping;
        m_pending = nullptr;
        pthread_mutex_unlock(&m_mutex);
        if (reason)
            write(reason);
        if (stopping)
            return;
    }
}

// Dumper thread.
void McuDumper::write(const char *reason)
{
    // Made at the first dump rather than at start: touching its 300 kB costs
    // the start sequence page faults before the MCU hears "ready".
    if (!m_snapshot)
        m_snapshot.reset(new McuCaptureRecord[McuFlightRecorder::Capacity]);
    uint64_t serial = 0;
    const size_t n = m_recorder.snapshot(m_snapshot.get(), &serial);
    if (n == 0 || serial == m_dumpedSerial)
        return;

    char stamp[32] = "unknown-time";
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local))
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    char name[96];
    std::snprintf(name, sizeof name, "%s%06u-%s-%s%s", Prefix, nextSequence(), stamp, reason, Suffix);
    const std::string path = m_dir + '/' + name;

    std::string error;
    McuCaptureWriter writer;
    bool written = makeDirectories(m_dir);
    if (!written)
        error = m_dir + ": " + std::strerror(errno);
    else
        written = writer.open(path, &error);
    for (size_t i = 0; written && i < n; ++i)
        written = writer.write(m_snapshot[i], &error);
    writer.close();
    if (!written) {
        if (error.empty())
            error = path;
        ::unlink(path.c_str());
        if (m_observer)
            m_observer->dumpFailed(error.c_str());
        return;
    }
    m_dumpedSerial = serial;
    prune();
    if (m_observer)
        m_observer->dumpWritten(path.c_str(), n);
}

// Dumper thread. One past the highest sequence in the directory.
unsigned McuDumper::nextSequence() const
{
    unsigned highest = 0;
    if (DIR *d = ::opendir(m_dir.c_str())) {
        while (const struct dirent *e = ::readdir(d))
            highest = std::max(highest, sequenceOf(e->d_name));
        ::closedir(d);
    }
    return highest + 1;
}

// Dumper thread. Deletes all but the newest KeptDumps dumps.
void McuDumper::prune() const
{
    std::vector<std::pair<unsigned, std::string>> dumps;
    if (DIR *d = ::opendir(m_dir.c_str())) {
        while (const struct dirent *e = ::readdir(d)) {
            if (const unsigned seq = sequenceOf(e->d_name))
                dumps.emplace_back(seq, e->d_name);
        }
        ::closedir(d);
    }
    if (dumps.size() <= KeptDumps)
        return;
    std::sort(dumps.begin(), dumps.end());
    for (size_t i = 0; i + KeptDumps < dumps.size(); ++i)
        ::unlink((m_dir + '/' + dumps[i].second).c_str());
}

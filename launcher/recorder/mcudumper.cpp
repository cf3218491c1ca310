#include "mcudumper.h"

#include "mcudumpobserver.h"

#include <checkedclock.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// 1024 records of at most 16 + 12 + 268 bytes, and the file header.
static_assert(24 + McuFlightRecorder::Capacity * (16 + McuCapturePseudoHeaderSize + McuCaptureMaxKept) < 1024 * 1024,
              "a dump stays under 1 MB");

const char Prefix[] = "mcu-";
const char Suffix[] = ".pcap";
// A dump is written under its name and this suffix, then renamed: a name
// without it is always a whole dump, whenever the power went.
const char TempSuffix[] = ".tmp";

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Skips n digits at p; false when there are fewer.
bool skipDigits(const char *&p, int n)
{
    for (; n > 0; --n, ++p) {
        if (!isDigit(*p))
            return false;
    }
    return true;
}

// The launcher's own names, and nothing else: "mcu-", the sequence (decimal,
// fitting 64 bits), "-", the local time as YYYYmmdd-HHMMSS or "unknown-time",
// "-", the reason in lower case and dashes, ".pcap", then tail. What a person
// or another program leaves in the directory is never counted or removed.
bool parseName(const char *name, const char *tail, uint64_t *sequence, size_t *sequenceEnd)
{
    if (std::strncmp(name, Prefix, sizeof Prefix - 1) != 0)
        return false;
    const char *p = name + sizeof Prefix - 1;
    uint64_t seq = 0;
    const char *digits = p;
    for (; isDigit(*p); ++p) {
        const unsigned d = unsigned(*p - '0');
        if (seq > (UINT64_MAX - d) / 10)
            return false;
        seq = seq * 10 + d;
    }
    if (p == digits || seq == 0 || *p++ != '-')
        return false;
    const size_t end = size_t(p - 1 - name);
    static const char Unknown[] = "unknown-time";
    if (std::strncmp(p, Unknown, sizeof Unknown - 1) == 0)
        p += sizeof Unknown - 1;
    else if (!skipDigits(p, 8) || *p++ != '-' || !skipDigits(p, 6))
        return false;
    if (*p++ != '-' || !((*p >= 'a' && *p <= 'z') || *p == '-'))
        return false;
    while ((*p >= 'a' && *p <= 'z') || *p == '-')
        ++p;
    if (std::strncmp(p, Suffix, sizeof Suffix - 1) != 0 || std::strcmp(p + sizeof Suffix - 1, tail) != 0)
        return false;
    *sequence = seq;
    *sequenceEnd = end;
    return true;
}

struct Dump {
    uint64_t sequence;
    size_t sequenceEnd; // where the sequence ends in name
    std::string name;
    bool operator<(const Dump &o) const { return sequence != o.sequence ? sequence < o.sequence : name < o.name; }
};

std::string nameWith(uint64_t sequence, const char *rest)
{
    char head[32];
    std::snprintf(head, sizeof head, "%s%06" PRIu64, Prefix, sequence);
    return head + std::string(rest);
}

bool syncDirectory(const std::string &dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
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

// The dumps in the directory, oldest first. Temporary files left by a write
// that the power or the end of the process cut short are removed: the dumper
// is the only writer in its directory. False, with the reason, when the
// directory cannot be read to its end: numbering and rotation would then go
// by a partial list, and overwrite or keep too many.
bool scan(const std::string &dir, std::vector<Dump> *dumps, std::string *error)
{
    dumps->clear();
    DIR *d = ::opendir(dir.c_str());
    if (!d) {
        *error = dir + ": " + std::strerror(errno);
        return false;
    }
    for (;;) {
        errno = 0;
        const struct dirent *e = ::readdir(d);
        if (!e)
            break;
        Dump dump;
        if (parseName(e->d_name, "", &dump.sequence, &dump.sequenceEnd)) {
            dump.name = e->d_name;
            dumps->push_back(std::move(dump));
        } else if (parseName(e->d_name, TempSuffix, &dump.sequence, &dump.sequenceEnd)) {
            ::unlinkat(dirfd(d), e->d_name, 0);
        }
    }
    const int readError = errno;
    ::closedir(d);
    if (readError != 0) {
        *error = dir + ": cannot be listed: " + std::strerror(readError);
        return false;
    }
    std::sort(dumps->begin(), dumps->end());
    return true;
}

// Numbers run out only when a file brings the largest one: the newest dumps
// but one are kept as 1, 2, ... in their order, the rest go.
void renumber(const std::string &dir, std::vector<Dump> *dumps)
{
    const size_t keep = McuDumper::KeptDumps - 1;
    const size_t drop = dumps->size() > keep ? dumps->size() - keep : 0;
    for (size_t i = 0; i < drop; ++i)
        ::unlink((dir + '/' + (*dumps)[i].name).c_str());
    dumps->erase(dumps->begin(), dumps->begin() + long(drop));
    uint64_t sequence = 0;
    for (Dump &dump : *dumps) {
        const std::string rest = dump.name.substr(dump.sequenceEnd);
        const std::string name = nameWith(++sequence, rest.c_str());
        ::rename((dir + '/' + dump.name).c_str(), (dir + '/' + name).c_str());
        dump = {sequence, name.size() - rest.size(), name};
    }
}

} // namespace

McuDumper::McuDumper(McuFlightRecorder &recorder, McuDumpObserver *observer)
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
    pthread_mutex_lock(&m_mutex);
    if (!m_enabled && dir && *dir) {
        m_dir = dir;
        m_enabled = true;
        m_stopping = false;
        if (m_pending)
            startThreadLocked();
    }
    pthread_mutex_unlock(&m_mutex);
}

void McuDumper::stop()
{
    pthread_mutex_lock(&m_mutex);
    const bool running = m_running;
    const pthread_t thread = m_thread;
    m_enabled = false;
    m_running = false;
    m_stopping = true;
    pthread_cond_signal(&m_wake);
    pthread_mutex_unlock(&m_mutex);
    if (running)
        pthread_join(thread, nullptr);
}

void McuDumper::request(const char *reason)
{
    pthread_mutex_lock(&m_mutex);
    if (!m_pending)
        m_pending = reason;
    if (m_enabled && !m_running)
        startThreadLocked();
    pthread_cond_signal(&m_wake);
    pthread_mutex_unlock(&m_mutex);
}

// Caller holds m_mutex. The thread is made by whichever thread asks first, so
// it blocks every signal rather than inherit that thread's mask: signals are
// for the threads that expect them. A thread that cannot be made leaves the
// request pending for the next one.
void McuDumper::startThreadLocked()
{
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    m_running = pthread_create(&m_thread, nullptr, entry, this) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
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

    std::string error;
    if (!makeDirectories(m_dir)) {
        error = m_dir + ": " + std::strerror(errno);
        if (m_observer)
            m_observer->dumpFailed(error.c_str());
        return;
    }
    std::vector<Dump> dumps;
    if (!scan(m_dir, &dumps, &error)) {
        if (m_observer)
            m_observer->dumpFailed(error.c_str());
        return;
    }
    if (!dumps.empty() && dumps.back().sequence == UINT64_MAX)
        renumber(m_dir, &dumps);
    const uint64_t sequence = dumps.empty() ? 1 : dumps.back().sequence + 1;

    char stamp[32] = "unknown-time";
    formatLocalNow("%Y%m%d-%H%M%S", stamp, sizeof stamp);
    const std::string rest = "-" + std::string(stamp) + "-" + reason + Suffix;
    const std::string name = nameWith(sequence, rest.c_str());
    const std::string path = m_dir + '/' + name;
    const std::string temp = path + TempSuffix;

    McuCaptureWriter writer;
    bool written = writer.open(temp, &error);
    for (size_t i = 0; written && i < n; ++i)
        written = writer.write(m_snapshot[i], &error);
    written = written && writer.sync(&error);
    writer.close();
    if (written && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        written = false;
    }
    if (!written) {
        ::unlink(temp.c_str());
        if (m_observer)
            m_observer->dumpFailed(error.c_str());
        return;
    }
    // The rename itself is on the disk only once the directory is.
    syncDirectory(m_dir);
    m_dumpedSerial = serial;
    dumps.push_back({sequence, name.size() - rest.size(), name});
    for (size_t i = 0; i + KeptDumps < dumps.size(); ++i)
        ::unlink((m_dir + '/' + dumps[i].name).c_str());
    if (m_observer)
        m_observer->dumpWritten(path.c_str(), n);
}

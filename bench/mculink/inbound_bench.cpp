// Inbound throughput of the MCU link over a real socket, next to a bare reader
// that does the same 268-byte reads and nothing else, and the heap allocations
// the link makes per frame while it reads (counted by interposing malloc).
// A third reader does the bare reads and the link's reassembly, with nothing
// recorded or dispatched: the most any link that cuts frames can reach.
// Run: bench_mcu_inbound [FRAMES]   (best of 5 runs of each)

#include <framereassembler.h>
#include <mcuframes.h>
#include <mcuframesink.h>
#include <mcusocketname.h>
#include <mcutransport.h>

#include "benchargs.h"
#include "unixpeer.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <vector>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t n, size_t size);
void *__libc_realloc(void *p, size_t size);
}

namespace {
std::atomic<long> g_allocations{0};
}

// Every allocation of the process goes through these, operator new included.
extern "C" void *malloc(size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

extern "C" void *calloc(size_t n, size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}

extern "C" void *realloc(void *p, size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}

namespace {

using Clock = std::chrono::steady_clock;

// Counts frames on the reader thread and, at the last one, notes the time and
// wakes the waiting main thread (which stays off the CPU meanwhile).
class CountingSink : public McuFrameSink
{
public:
    explicit CountingSink(size_t expected) : m_expected(expected) { ::pipe2(m_done, O_CLOEXEC); }
    ~CountingSink()
    {
        ::close(m_done[0]);
        ::close(m_done[1]);
    }
    void onMcuFrame(unsigned char *) override
    {
        if (++m_frames == m_expected) {
            end = Clock::now();
            const char c = 1;
            (void)!::write(m_done[1], &c, 1);
        }
    }
    void waitForLast()
    {
        char c;
        (void)!::read(m_done[0], &c, 1);
    }
    Clock::time_point end;

private:
    size_t m_expected;
    size_t m_frames = 0;   // reader thread
    int m_done[2];
};

std::vector<unsigned char> stream(int frameSize, size_t frames)
{
    std::vector<unsigned char> bytes(size_t(frameSize) * frames);
    const uint32_t kind = frameSize == MCU_NORMAL_MSG_SIZE ? uint32_t(MCU_FRAME_NORMAL) : uint32_t(MCU_FRAME_LONG);
    for (size_t at = 0; at < bytes.size(); at += size_t(frameSize)) {
        const uint32_t header[3] = {kind, 0x3316, uint32_t(frameSize)};
        std::memcpy(&bytes[at], header, sizeof header);
    }
    return bytes;
}

// Writes the whole stream once go is set; allocates nothing meanwhile.
std::thread writer(int fd, const std::vector<unsigned char> &bytes, const std::atomic<bool> &go)
{
    return std::thread([fd, &bytes, &go] {
        while (!go.load())
            std::this_thread::yield();
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::send(fd, &bytes[at], std::min<size_t>(65536, bytes.size() - at), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            at += size_t(n);
        }
    });
}

struct Run {
    double seconds;
    long allocations;
};

Run linkRun(const std::vector<unsigned char> &bytes, size_t frames)
{
    unixpeer::Names names("bench");
    unixpeer::Listener service(names.serviceName);
    CountingSink sink(frames);
    McuTransport link(sink, names.endpoint());
    link.start();
    const int fd = service.accept(5000);
    if (fd < 0) {
        std::fprintf(stderr, "link did not connect\n");
        std::exit(1);
    }
    std::atomic<bool> go{false};
    std::thread w = writer(fd, bytes, go);

    const long allocationsBefore = g_allocations.load();
    const auto start = Clock::now();
    go.store(true);
    sink.waitForLast();
    const auto end = sink.end;
    const long allocations = g_allocations.load() - allocationsBefore;

    w.join();
    link.stop();
    ::close(fd);
    return Run{std::chrono::duration<double>(end - start).count(), allocations};
}

// With a reassembler, every read is also cut into frames for a sink that
// only counts them.
double bareRun(const std::vector<unsigned char> &bytes, size_t frames, FrameReassembler *reassembler = nullptr)
{
    unixpeer::Names names("benchbare");
    unixpeer::Listener service(names.serviceName);
    struct sockaddr_un addr;
    const socklen_t length = mcuSocketAddress(names.serviceName.data(), names.serviceName.size(), &addr);
    const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(client, reinterpret_cast<struct sockaddr *>(&addr), length);
    const int fd = service.accept(5000);
    std::atomic<bool> go{false};
    std::thread w = writer(fd, bytes, go);

    CountingSink counter(frames);
    unsigned char buf[MCU_FRAME_MAX];
    size_t got = 0;
    const auto start = Clock::now();
    go.store(true);
    while (got < bytes.size()) {
        const ssize_t n = ::read(client, buf, sizeof buf);
        if (n <= 0)
            break;
        got += size_t(n);
        if (reassembler)
            reassembler->feed(buf, size_t(n), counter);
    }
    const auto end = Clock::now();
    w.join();
    ::close(fd);
    ::close(client);
    return std::chrono::duration<double>(end - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    static const char Usage[] =
        "usage: bench_mcu_inbound [FRAMES]\n"
        "Inbound throughput of the MCU link next to a bare reader, for 16- and 268-byte\n"
        "frames (FRAMES of each, default 1000000; best of 5 runs), and the link's heap\n"
        "allocations per frame; then a bare reader that also reassembles, the most a\n"
        "link that cuts frames can reach.\n";
    long count = 1000000;
    if (BenchArgs::asksHelp(argc, argv) || argc > 2 || (argc == 2 && !BenchArgs::positive(argv[1], 100000000, &count)))
        return BenchArgs::usage(Usage, BenchArgs::asksHelp(argc, argv));
    const size_t frames = size_t(count);
    const long before = g_allocations.load();
    int *probe = new int(1);
    asm volatile("" : : "r"(probe) : "memory");
    delete probe;
    if (g_allocations.load() == before) {
        std::fprintf(stderr, "allocation counter is not in the path of operator new\n");
        return 1;
    }

    for (const int frameSize : {int(MCU_NORMAL_MSG_SIZE), int(MCU_FRAME_MAX)}) {
        const std::vector<unsigned char> bytes = stream(frameSize, frames);
        static FrameReassembler reassembler; // 10 kB: off the stack
        double link = 1e9, bare = 1e9, reassembled = 1e9;
        long allocations = 0;
        for (int i = 0; i < 5; ++i) {
            const Run r = linkRun(bytes, frames);
            link = std::min(link, r.seconds);
            allocations = std::max(allocations, r.allocations);
            bare = std::min(bare, bareRun(bytes, frames));
            reassembler.reset();
            reassembled = std::min(reassembled, bareRun(bytes, frames, &reassembler));
        }
        std::printf("%3d-byte frames: link %.0f frames/s, bare reader %.0f frames/s, ratio %.3f; "
                    "heap allocations while reading: %ld (%.6f per frame)\n",
                    frameSize, double(frames) / link, double(frames) / bare, bare / link, allocations,
                    double(allocations) / double(frames));
        std::printf("                 bare reader that also reassembles %.0f frames/s, ratio %.3f to bare; "
                    "link to it %.3f\n",
                    double(frames) / reassembled, bare / reassembled, reassembled / link);
    }
    return 0;
}

// Many threads on the MCU transport at once, while the service end drops and
// takes back the connection: every frame on the wire must be whole, every
// connection must open with the greeting, inbound frames must keep arriving.
// Plain C++ without Qt, so that it also runs under ThreadSanitizer alone.

#include <mcuframes.h>
#include <mcuframesink.h>
#include <mcutransport.h>

#include "unixpeer.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

enum { Senders = 6, Connections = 4, FramesPerConnection = 3000 };
// Senders give up after this even if the service never saw enough.
const std::chrono::seconds SendingLimit(60);
const uint32_t Check = 0xa5a5a5a5u;

std::atomic<int> g_failures{0};

void fail(const std::string &what)
{
    if (g_failures++ < 10)
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
}

MCU_NORMAL_MSG_T normalFrame(uint32_t msg, uint32_t seq)
{
    return MCU_NORMAL_MSG_T{MCU_FRAME_NORMAL, msg, seq, seq ^ Check};
}

// Inbound frames reach it on the reader thread, which answers each one, so
// the reader sends while the senders do.
class ReplyingSink : public McuFrameSink
{
public:
    McuTransport *transport = nullptr;
    std::atomic<int> received{0};

    void onMcuFrame(unsigned char *frame) override
    {
        MCU_NORMAL_MSG_T msg;
        std::memcpy(&msg, frame, sizeof msg);
        if (msg.kind != MCU_FRAME_NORMAL || msg.p2 != (msg.p1 ^ Check))
            fail("inbound frame damaged");
        const MCU_NORMAL_MSG_T reply = normalFrame(0x99, msg.p1);
        transport->sendData(&reply, sizeof reply);
        ++received;
    }
};

// Checks one outbound frame at the head of buf; returns its size, 0 when
// incomplete, -1 when it is not a whole frame of a known sender.
int checkFrame(const std::vector<unsigned char> &buf, size_t at)
{
    const size_t avail = buf.size() - at;
    if (avail < 4)
        return 0;
    uint32_t kind;
    std::memcpy(&kind, &buf[at], 4);
    if (kind == MCU_FRAME_NORMAL) {
        if (avail < sizeof(MCU_NORMAL_MSG_T))
            return 0;
        MCU_NORMAL_MSG_T m;
        std::memcpy(&m, &buf[at], sizeof m);
        return m.p2 == (m.p1 ^ Check) ? int(sizeof m) : -1;
    }
    if (kind == MCU_FRAME_LONG) {
        if (avail < sizeof(MAIN_APP_TO_MCUSRV_T))
            return 0;
        MAIN_APP_TO_MCUSRV_T f;
        std::memcpy(&f, &buf[at], sizeof f);
        for (unsigned char c : f.data) {
            if (c != f.data[0])
                return -1;
        }
        return int(sizeof f);
    }
    return -1;
}

// The service end: reads and checks frames, writes inbound ones, and drops
// the connection a few times to make the link come back. Tells the senders
// when it has seen enough; the last connection lasts until they are done and
// the stream has gone quiet.
void serve(const unixpeer::Listener &listener, const MCU_NORMAL_MSG_T &greeting, std::atomic<bool> *enough,
           const std::atomic<bool> &sendersDone, std::atomic<int> *connections)
{
    for (int c = 0; c < Connections; ++c) {
        const int fd = listener.accept(10000);
        if (fd < 0) {
            fail("link did not come back, connection " + std::to_string(c));
            enough->store(true);
            return;
        }
        ++*connections;
        std::vector<unsigned char> buf;
        size_t at = 0;
        int frames = 0;
        unsigned char chunk[4096];
        const bool last = c == Connections - 1;
        while (last || frames < FramesPerConnection) {
            struct pollfd p = {fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, 200);
            if (ready == 0 && !sendersDone.load())
                continue;
            if (ready != 1)
                break;
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            buf.insert(buf.end(), chunk, chunk + n);
            int size;
            while ((size = checkFrame(buf, at)) > 0) {
                if (frames == 0 && std::memcmp(&buf[at], &greeting, sizeof greeting) != 0)
                    fail("connection " + std::to_string(c) + " did not open with the greeting");
                at += size_t(size);
                if (last && frames == FramesPerConnection)
                    enough->store(true);
                if (++frames % 50 == 0) {
                    const MCU_NORMAL_MSG_T in = normalFrame(0x3316, uint32_t(frames));
                    unixpeer::writeFull(fd, &in, sizeof in);
                }
            }
            if (size < 0) {
                fail("damaged or interleaved frame on connection " + std::to_string(c));
                break;
            }
        }
        ::close(fd);
    }
}

} // namespace

int main()
{
    unixpeer::Names names("stress");
    unixpeer::Listener listener(names.serviceName);
    if (!listener.isListening()) {
        std::fprintf(stderr, "FAIL: cannot listen on %s\n", names.serviceName.c_str());
        return 1;
    }
    // The flight recorder records every frame of every thread and dumps on
    // each drop and on the senders' requests meanwhile.
    char dumpDir[] = "/tmp/hu-stress-dumps-XXXXXX";
    if (!::mkdtemp(dumpDir)) {
        std::fprintf(stderr, "FAIL: no dump directory\n");
        return 1;
    }
    McuEndpoint endpoint = names.endpoint();
    endpoint.dumpDir = dumpDir;
    ReplyingSink sink;
    McuTransport transport(sink, endpoint);
    sink.transport = &transport;
    const MCU_NORMAL_MSG_T greeting = normalFrame(0x77, 0);
    transport.sendGreeting(&greeting, sizeof greeting);

    std::atomic<int> connections{0};
    std::atomic<bool> enough{false};
    std::atomic<bool> sendersDone{false};
    std::thread service(serve, std::cref(listener), std::cref(greeting), &enough, std::cref(sendersDone),
                        &connections);
    transport.start();

    std::atomic<int> sent{0};
    std::vector<std::thread> senders;
    for (uint32_t s = 0; s < Senders; ++s) {
        senders.emplace_back([&, s] {
            const auto giveUp = std::chrono::steady_clock::now() + SendingLimit;
            for (uint32_t i = 0; !enough.load() && std::chrono::steady_clock::now() < giveUp; ++i) {
                int r;
                if (i % 3 == 0) {
                    MAIN_APP_TO_MCUSRV_T f;
                    f.kind = MCU_FRAME_LONG;
                    f.msg = 0x100 + s;
                    std::memset(f.data, int((s * 7 + i) & 0xff), sizeof f.data);
                    r = transport.sendData(&f, sizeof f);
                } else {
                    const MCU_NORMAL_MSG_T m = normalFrame(s, i);
                    r = transport.sendData(&m, sizeof m);
                }
                sent += r == 0;
                if (i % 500 == 0)
                    transport.sendGreeting(&greeting, sizeof greeting);
                if (i % 2000 == 0)
                    transport.requestDump();
            }
        });
    }
    for (std::thread &t : senders)
        t.join();
    sendersDone.store(true);
    service.join();
    transport.stop();

    if (connections.load() != Connections)
        fail("expected " + std::to_string(int(Connections)) + " connections, saw " + std::to_string(connections.load()));
    if (sink.received.load() == 0)
        fail("no inbound frame reached the sink");
    const auto dumps = std::distance(std::filesystem::directory_iterator(dumpDir), {});
    std::filesystem::remove_all(dumpDir);
    if (dumps == 0 || dumps > 8)
        fail("expected 1 to 8 dumps, found " + std::to_string(dumps));
    std::fprintf(stderr, "%d frames sent, %d inbound, %d connections\n", sent.load(), sink.received.load(),
                 connections.load());
    return g_failures.load() == 0 ? 0 : 1;
}

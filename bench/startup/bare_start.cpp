// The least a process must do before the MCU can hear "application ready": a
// widgets application, a connected socket, one frame; then one sound object,
// made after the frame as the launcher makes its first, so that both have
// loaded the same libraries when their memory is read. Qt 6 loads its
// multimedia plugin there (about 50 ms with 6.8's FFmpeg one), which no
// start should wait for. The startup benchmark compares the launcher against
// this.
//
// Once the frame is sent it prints when each step ended, in ms since main
// was entered ("bare checkpoints: ..."), for the benchmark's breakdown; the
// clock reads cost nanoseconds, so they do not weigh on the comparison.
#include <QApplication>
#include <QSoundEffect>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <mcusocketname.h>

namespace {

int64_t monotonicNs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

} // namespace

int main(int argc, char **argv)
{
    const int64_t entered = monotonicNs();
    QApplication app(argc, argv);
    const int64_t constructed = monotonicNs();

    const char *name = argc > 1 ? argv[1] : "@bench";
    sockaddr_un addr;
    const socklen_t length = mcuSocketAddress(name, &addr);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&addr), length) != 0)
        return 1;
    const int64_t connected = monotonicNs();
    const uint32_t ready[4] = {1, 12, 17, 2};
    if (::send(fd, ready, sizeof ready, MSG_NOSIGNAL) != ssize_t(sizeof ready))
        return 1;
    const int64_t sent = monotonicNs();
    QSoundEffect sound;
    sound.setSource(QUrl::fromLocalFile(QStringLiteral("/application/sound/1.wav")));
    const int64_t soundMade = monotonicNs();
    std::printf("bare checkpoints: application constructed %.3f, connected %.3f, ready sent %.3f, sound made %.3f\n",
                double(constructed - entered) / 1e6, double(connected - entered) / 1e6,
                double(sent - entered) / 1e6, double(soundMade - entered) / 1e6);
    std::fflush(stdout);
    return app.exec(); // stays up, as the launcher does, until the benchmark ends it
}

// The least a process must do before the MCU can hear "application ready": a
// widgets application, one sound object, a connected socket, one frame. The
// startup benchmark compares the launcher against this.
#include <QApplication>
#include <QSound>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <mcusocketname.h>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QSound sound(QStringLiteral("/application/sound/1.wav"));

    const char *name = argc > 1 ? argv[1] : "@bench";
    sockaddr_un addr;
    const socklen_t length = mcuSocketAddress(name, &addr);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&addr), length) != 0)
        return 1;
    const uint32_t ready[4] = {1, 12, 17, 2};
    if (::send(fd, ready, sizeof ready, MSG_NOSIGNAL) != ssize_t(sizeof ready))
        return 1;
    return app.exec(); // stays up, as the launcher does, until the benchmark ends it
}

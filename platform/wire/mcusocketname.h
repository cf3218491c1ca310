#ifndef MCUSOCKETNAME_H
#define MCUSOCKETNAME_H

// The MCU service's socket name is written "@NAME": the '@' stands for the NUL
// that puts NAME in the abstract namespace, and the address ends with NAME's
// last byte, without a terminating NUL (a longer address names another
// socket). Plain POSIX for the transport, the simulator, tests and benchmarks.

#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>

// The longest name, '@' included, that fits an address.
constexpr size_t McuSocketNameMax = sizeof(sockaddr_un::sun_path);

// Fills addr and returns its length, or 0 for a name that is not '@' and 1 to
// McuSocketNameMax - 1 more bytes; connect and bind refuse a length of 0.
inline socklen_t mcuSocketAddress(const char *name, size_t length, struct sockaddr_un *addr)
{
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (length < 2 || length > McuSocketNameMax || name[0] != '@')
        return 0;
    std::memcpy(addr->sun_path + 1, name + 1, length - 1);
    return socklen_t(offsetof(struct sockaddr_un, sun_path) + length);
}

inline socklen_t mcuSocketAddress(const char *name, struct sockaddr_un *addr)
{
    return mcuSocketAddress(name, std::strlen(name), addr);
}

#endif // MCUSOCKETNAME_H

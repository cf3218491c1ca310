#ifndef BENCHARGS_H
#define BENCHARGS_H

// Command lines of the benchmarks: each answers --help with its usage on
// standard output, and refuses what it cannot use with the usage on standard
// error and status 2, rather than guessing (a word read as a count of 0).

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace BenchArgs {

inline bool asksHelp(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    }
    return false;
}

// A whole decimal number from 1 to max, nothing before or after it.
inline bool positive(const char *text, long max, long *value)
{
    if (*text < '0' || *text > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < 1 || parsed > max)
        return false;
    *value = parsed;
    return true;
}

// Prints the usage where it belongs and gives main's status.
inline int usage(const char *text, bool asked)
{
    std::fputs(text, asked ? stdout : stderr);
    return asked ? 0 : 2;
}

} // namespace BenchArgs

#endif // BENCHARGS_H

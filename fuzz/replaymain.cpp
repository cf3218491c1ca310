// Replays every file of the given folders through a fuzz target's entry point,
// so that the corpus runs as a regression test where libFuzzer is not built.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    int failures = 0, replayed = 0;
    for (int i = 1; i < argc; ++i) {
        DIR *dir = opendir(argv[i]);
        failures += !dir;
        // A folder that cannot be read to its end counts as unreadable, not
        // as one with fewer inputs.
        for (errno = 0; dirent *entry = dir ? readdir(dir) : nullptr; errno = 0) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream in(std::string(argv[i]) + "/" + entry->d_name, std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            failures += !in;
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
            ++replayed;
        }
        failures += dir && errno != 0;
        if (dir)
            closedir(dir);
    }
    std::printf("replayed %d inputs, %d unreadable\n", replayed, failures);
    return failures || replayed == 0 ? 1 : 0;
}

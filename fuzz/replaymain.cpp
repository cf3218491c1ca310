// Replays every file of the given folders through a fuzz target's entry point,
// so that the corpus runs as a regression test where libFuzzer is not built.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static int replayFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    return 0;
}

int main(int argc, char **argv)
{
    int failures = 0;
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) == 0 && S_ISDIR(st.st_mode)) {
            DIR *dir = opendir(argv[i]);
            while (dirent *entry = dir ? readdir(dir) : nullptr) {
                if (entry->d_name[0] == '.')
                    continue;
                failures += replayFile(std::string(argv[i]) + "/" + entry->d_name);
                ++replayed;
            }
            if (dir)
                closedir(dir);
        } else {
            failures += replayFile(argv[i]);
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return failures || replayed == 0 ? 1 : 0;
}

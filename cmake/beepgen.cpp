// Writes the five beep sounds "1.wav".."5.wav" into the directory given as the
// only argument: short 16-bit mono tones, each with its own pitch and loudness,
// so that the file played can be told from a recording of it by its pitch. For
// builds and tests away from a real device.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void put16(std::vector<unsigned char> &out, uint16_t v)
{
    out.push_back(static_cast<unsigned char>(v & 0xff));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void put32(std::vector<unsigned char> &out, uint32_t v)
{
    put16(out, static_cast<uint16_t>(v & 0xffff));
    put16(out, static_cast<uint16_t>(v >> 16));
}

void putTag(std::vector<unsigned char> &out, const char *tag)
{
    out.insert(out.end(), tag, tag + 4);
}

// Pitches at least 200 Hz apart and none an octave of another, so that no
// tone's harmonics (a loudspeaker or a resampler adds some) pass for another.
const double kFrequency[] = {700.0, 900.0, 1150.0, 1450.0, 1850.0};

std::vector<unsigned char> tone(int level)
{
    const uint32_t rate = 16000;
    const uint32_t samples = rate / 20; // 50 ms
    const uint32_t ramp = rate / 1000;  // 1 ms in and out, so that the ends do not click
    const double pi = 3.14159265358979323846;
    const double frequency = kFrequency[level - 1];
    const double amplitude = 3000.0 * level;

    std::vector<unsigned char> data;
    for (uint32_t i = 0; i < samples; ++i) {
        const uint32_t edge = i < samples - 1 - i ? i : samples - 1 - i;
        const double envelope = edge < ramp ? double(edge) / ramp : 1.0;
        const double v = envelope * amplitude * std::sin(2.0 * pi * frequency * i / rate);
        put16(data, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
    }

    std::vector<unsigned char> out;
    putTag(out, "RIFF");
    put32(out, static_cast<uint32_t>(36 + data.size()));
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, 1); // mono
    put32(out, rate);
    put32(out, rate * 2);
    put16(out, 2);
    put16(out, 16);
    putTag(out, "data");
    put32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    for (int level = 1; level <= 5; ++level) {
        const std::string path = std::string(argv[1]) + "/" + std::to_string(level) + ".wav";
        std::FILE *file = std::fopen(path.c_str(), "wb");
        if (!file) {
            std::perror(path.c_str());
            return 1;
        }
        const std::vector<unsigned char> bytes = tone(level);
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        if (std::fclose(file) != 0 || !written) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}

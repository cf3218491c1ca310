#include "beeps.h"

#include <cmath>
#include <cstdio>

namespace Beeps {

double frequency(const int16_t *samples, size_t count, int rate)
{
    // Crossings from the first to the last, interpolated to a fraction of a
    // sample, so that 50 ms of tone give the pitch within a few Hz.
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < count; ++i) {
        const int a = samples[i - 1], b = samples[i];
        if ((a < 0) == (b < 0))
            continue;
        const double at = double(i - 1) + double(a) / double(a - b);
        if (first < 0)
            first = at;
        last = at;
        ++crossings;
    }
    if (crossings < 2)
        return 0;
    return (crossings - 1) / (2.0 * (last - first) / rate);
}

std::vector<Beep> find(const std::vector<int16_t> &samples, int rate, double threshold)
{
    const size_t window = size_t(rate) / 1000;
    const size_t maxGap = 20 * window;
    std::vector<Beep> beeps;
    bool inBeep = false;
    size_t lastLoud = 0;
    for (size_t w = 0; w + window <= samples.size(); w += window) {
        double energy = 0;
        for (size_t i = w; i < w + window; ++i)
            energy += double(samples[i]) * samples[i];
        if (std::sqrt(energy / window) <= threshold)
            continue;
        if (!inBeep || w - lastLoud > maxGap) {
            beeps.push_back({w, 0, 0});
            inBeep = true;
        }
        lastLoud = w;
        beeps.back().length = w + window - beeps.back().onset;
    }
    for (Beep &beep : beeps)
        beep.frequency = frequency(samples.data() + beep.onset, beep.length, rate);
    return beeps;
}

std::vector<int16_t> readWav(const char *path)
{
    std::vector<int16_t> samples;
    std::FILE *file = std::fopen(path, "rb");
    if (!file)
        return samples;
    if (std::fseek(file, 44, SEEK_SET) == 0) {
        int16_t buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, sizeof buffer[0], 4096, file)) > 0)
            samples.insert(samples.end(), buffer, buffer + n);
    }
    std::fclose(file);
    return samples;
}

} // namespace Beeps

#ifndef BEEPS_H
#define BEEPS_H

// Beeps found in a mono 16-bit recording: where each begins and its pitch.
// Pure code, no I/O.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Beeps {

struct Beep {
    size_t onset;     // first sample of the first 1 ms window above the threshold
    size_t length;    // samples up to the end of the last loud window
    double frequency; // Hz, from the zero crossings inside the beep
};

// A beep is loud 1 ms windows (RMS above threshold) with gaps under 20 ms.
std::vector<Beep> find(const std::vector<int16_t> &samples, int rate, double threshold = 300.0);

// Pitch of a whole tone, e.g. a sound file's samples; 0 without two crossings.
double frequency(const int16_t *samples, size_t count, int rate);

// The samples of a 16-bit mono PCM WAV file written as the build writes its
// beeps (the data right after a 44-byte header); empty if unreadable.
std::vector<int16_t> readWav(const char *path);

} // namespace Beeps

#endif // BEEPS_H

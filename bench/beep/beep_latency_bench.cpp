// Key-to-sound latency of the launcher process: this program plays the MCU
// service, sends key-down frames spaced past the beep's debounce, and records
// a PulseAudio daemon of its own (null sink) that the launcher plays into.
// Latency is from the moment a key frame leaves on the MCU's socket to the
// beep's onset in the recording (1 ms windows above RMS 300); the onset's
// place on the clock is known within about 2 ms (the recorder's latency).
//
//   bench_beep_latency LAUNCHER_E2E [PRESSES=200] [GAP_MS=150]
//
// Run it under the build lock, or the figures are the machine's load.
#include "childprogram.h"
#include "mcutestframes.h"
#include "unixpeer.h"

#include <beeps.h>
#include <soundserver.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

double monotonicNow()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void sleepMs(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

double percentile(std::vector<double> sorted, double p)
{
    return sorted[std::min(sorted.size() - 1, size_t(p * (sorted.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s LAUNCHER_E2E [PRESSES=200] [GAP_MS=150]\n", argv[0]);
        return 2;
    }
    const int presses = argc > 2 ? std::atoi(argv[2]) : 200;
    const int gapMs = argc > 3 ? std::atoi(argv[3]) : 150;
    char folderTemplate[] = "/tmp/beeplat-XXXXXX";
    const char *folder = mkdtemp(folderTemplate);
    if (!folder || presses < 1 || gapMs < 122) {
        std::fprintf(stderr, "no temporary folder, or presses < 1, or a gap inside the debounce\n");
        return 2;
    }
    const std::string settings = std::string(folder) + "/settings.ini";
    std::ofstream(settings) << "[setup]\nsysBeep=true\nalterVolume=25\n";

    int status = 1;
    {
        SoundServer server;
        if (!server.start(folder)) {
            std::fprintf(stderr, "no sound server: %s\n", server.error().c_str());
        } else {
            unixpeer::Names names("beeplat");
            unixpeer::Listener mcu(names.serviceName);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_QPA_PLATFORM", "offscreen");
            env.insert("QT_LOGGING_RULES", "headunit.*=false");
            env.insert("HEADUNIT_SETTINGS", QString::fromStdString(settings));
            env.insert("HEADUNIT_TEST_MCU_NAME", QString::fromStdString(names.name));
            env.insert("PULSE_SERVER", QString::fromStdString(server.address()));
            ChildProgram launcher;
            const int fd = launcher.start(argv[1], {}, env) ? mcu.accept(10000) : -1;
            char ready[16];
            if (fd < 0 || !unixpeer::readFull(fd, ready, 16, 5000)) {
                std::fprintf(stderr, "the launcher did not connect\n%s", launcher.readOutput().constData());
            } else {
                sleepMs(500); // the event loop runs, the first sound is loaded
                const size_t from = server.samples().size();
                const QByteArray key = McuTestFrames::normal(13078, 7, 1);
                std::vector<double> sent;
                for (int i = 0; i < presses; ++i) {
                    sent.push_back(monotonicNow());
                    unixpeer::writeFull(fd, key.constData(), 16);
                    sleepMs(gapMs);
                    launcher.readOutput();
                }
                sleepMs(500);
                const std::vector<int16_t> all = server.samples();
                const std::vector<Beeps::Beep> beeps =
                    Beeps::find(std::vector<int16_t>(all.begin() + long(from), all.end()), SoundServer::Rate);

                // A press's beep is the first onset from it to the next press
                // (2 ms of slack for the clock's uncertainty).
                std::vector<double> latencies;
                bool firstHeard = false;
                size_t b = 0;
                for (int i = 0; i < presses; ++i) {
                    const double until = i + 1 < presses ? sent[i + 1] - 0.002 : 1e300;
                    for (; b < beeps.size(); ++b) {
                        const double onset = server.timeOf(double(from + beeps[b].onset));
                        if (onset >= until)
                            break;
                        if (onset >= sent[i] - 0.002) {
                            latencies.push_back(std::max(0.0, onset - sent[i]) * 1000);
                            firstHeard |= i == 0;
                            ++b;
                            break;
                        }
                    }
                }
                const int missing = presses - int(latencies.size());
                std::printf("presses %d, %d ms apart; beeps heard %zu, in the recording %zu\n", presses, gapMs,
                            latencies.size(), beeps.size());
                if (firstHeard)
                    std::printf("first beep (loads its file): %.1f ms\n", latencies.front());
                if (!latencies.empty()) {
                    std::vector<double> sorted = latencies;
                    std::sort(sorted.begin(), sorted.end());
                    std::printf("key to sound: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", percentile(sorted, 0.5),
                                percentile(sorted, 0.99), sorted.back());
                }
                std::printf("no beep: %d of %d (%.1f %%)\n", missing, presses, 100.0 * missing / presses);
                status = missing == 0 ? 0 : 1;
                close(fd);
            }
        }
    }
    std::system((std::string("rm -rf ") + folder).c_str());
    return status;
}

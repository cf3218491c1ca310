// Cost of frame reassembly per frame, in process: streams of 16-byte normal
// frames and of 268-byte long frames, fed in 268-byte reads as the reader
// does, bare and with every frame kept by the flight recorder as the link
// keeps it while a stream comes faster than it is read (a pass of 16 full
// reads shares one stamp, each read's frames recorded at once with the ring
// held). Run: bench_mcu_reassembly (per_frame is the time per frame; the
// recorder's cost is the difference of the two). BM_ReadAfterWait is what a
// read of its own costs the recorder, as every frame of a quiet link comes:
// a stamp, the ring held and lent.

#include <framereassembler.h>
#include <mcuflightrecorder.h>
#include <mcuframes.h>
#include <mcuframesink.h>
#include <mculinkio.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

class CountingSink : public McuFrameSink
{
public:
    void onMcuFrame(unsigned char *frame) override
    {
        benchmark::DoNotOptimize(frame[4]);
        ++frames;
    }
    size_t frames = 0;
};

// Keeps every frame, as the link's reader does before dispatching it.
class RecordingSink : public McuFrameSink
{
public:
    void framesCut(const McuFrameCut *cuts, size_t count) override
    {
        recorder.holdReaderRing();
        for (size_t i = 0; i < count; ++i)
            recorder.frameIn(cuts[i].bytes, cuts[i].kept, uint32_t(cuts[i].wireLength));
        recorder.lendReaderRing();
    }
    void onMcuFrame(unsigned char *frame) override
    {
        benchmark::DoNotOptimize(frame[4]);
        ++frames;
    }
    McuFlightRecorder recorder;
    size_t frames = 0;
};

// 268 frames of frameSize bytes: a whole number of 268-byte reads.
std::vector<unsigned char> stream(int frameSize)
{
    std::vector<unsigned char> bytes(size_t(frameSize) * MCU_FRAME_MAX);
    for (size_t at = 0; at < bytes.size(); at += size_t(frameSize)) {
        const uint32_t header[3] = {frameSize == MCU_NORMAL_MSG_SIZE ? uint32_t(MCU_FRAME_NORMAL) : uint32_t(MCU_FRAME_LONG),
                                    0x3316, uint32_t(frameSize)};
        std::memcpy(&bytes[at], header, sizeof header);
    }
    return bytes;
}

void BM_Reassembly(benchmark::State &state)
{
    const std::vector<unsigned char> bytes = stream(int(state.range(0)));
    FrameReassembler reassembler;
    CountingSink sink;
    for (auto _ : state) {
        for (size_t at = 0; at < bytes.size(); at += MCU_FRAME_MAX)
            reassembler.feed(&bytes[at], MCU_FRAME_MAX, sink);
    }
    state.counters["per_frame"] =
        benchmark::Counter(double(sink.frames), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(int64_t(sink.frames));
}

void BM_ReassemblyRecorded(benchmark::State &state)
{
    const std::vector<unsigned char> bytes = stream(int(state.range(0)));
    FrameReassembler reassembler;
    auto sink = std::make_unique<RecordingSink>();
    const size_t pass = McuLinkIo::ReadsPerPass * MCU_FRAME_MAX;
    for (auto _ : state) {
        for (size_t at = 0; at < bytes.size(); at += pass) {
            sink->recorder.stampRead();
            reassembler.feed(&bytes[at], std::min(pass, bytes.size() - at), *sink);
        }
    }
    state.counters["per_frame"] =
        benchmark::Counter(double(sink->frames), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(int64_t(sink->frames));
}

void BM_ReadAfterWait(benchmark::State &state)
{
    McuFlightRecorder recorder;
    for (auto _ : state) {
        recorder.stampRead();
        recorder.holdReaderRing();
        recorder.lendReaderRing();
    }
    state.counters["per_frame"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_ReadAfterWait);
BENCHMARK(BM_ReassemblyRecorded)->ArgName("frame_bytes")->Arg(MCU_NORMAL_MSG_SIZE)->Arg(MCU_FRAME_MAX);
BENCHMARK(BM_Reassembly)->ArgName("frame_bytes")->Arg(MCU_NORMAL_MSG_SIZE)->Arg(MCU_FRAME_MAX);
BENCHMARK_MAIN();

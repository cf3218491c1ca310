// Cost of one frame in the link's reporter: with headunit.mcu.frames off, a
// category check as ever; on, a decoded text line and, in DLT builds, a DLT
// log message and a network trace message. The previous message handler is
// silenced, so that the cost of writing stderr stays out of the figures.
// In DLT builds run it against a daemon of your own, or libdlt only fills its
// buffer and then drops:
//   mkdir /tmp/bench-dlt && dlt-daemon -t /tmp/bench-dlt -p 3499 &
//   DLT_PIPE_DIR=/tmp/bench-dlt DLT_DAEMON_TCP_PORT=3499 bench_mcu_framelog

#include <diaglog.h>
#include <logcategories.h>
#include <mculinkreporter.h>

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

namespace {

QLoggingCategory &frames()
{
    return const_cast<QLoggingCategory &>(lcMcuFrames());
}

// A key press as the MCU service sends it: kind 1, msg 13078, p1 9, p2 1.
struct KeyFrame {
    unsigned char bytes[16];
    KeyFrame()
    {
        const uint32_t words[4] = {1, 13078, 9, 1};
        std::memcpy(bytes, words, sizeof bytes);
    }
};

// The frames category off (0) costs one check; on (1), the decoded line and
// the trace.
void BM_FrameInCategory(benchmark::State &state)
{
    McuLinkReporter reporter;
    const KeyFrame frame;
    frames().setEnabled(QtDebugMsg, state.range(0) != 0);
    for (auto _ : state)
        reporter.frameIn(frame.bytes, sizeof frame.bytes, sizeof frame.bytes);
    frames().setEnabled(QtDebugMsg, false);
}

void BM_TraceFrame(benchmark::State &state)
{
    const KeyFrame frame;
    for (auto _ : state)
        DiagLog::traceFrame(true, frame.bytes, sizeof frame.bytes);
}

} // namespace

BENCHMARK(BM_FrameInCategory)->ArgName("on")->Arg(0)->Arg(1);
BENCHMARK(BM_TraceFrame);

int main(int argc, char **argv)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    DiagLog diagLog;
    QCoreApplication app(argc, argv);
    // On before registration, so that DLT's context starts at debug too.
    frames().setEnabled(QtDebugMsg, true);
    QCoreApplication::processEvents();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}

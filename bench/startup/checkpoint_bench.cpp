// Cost of recording one start-up checkpoint: a clock read and an atomic store,
// nothing allocated. Run: bench_startup_checkpoints.

#include <startupcheckpoints.h>

#include <benchmark/benchmark.h>

namespace {

void BM_ReachCheckpoint(benchmark::State &state)
{
    for (auto _ : state)
        StartupCheckpoints::reach(StartupCheckpoints::StageOneStarted);
    benchmark::DoNotOptimize(StartupCheckpoints::elapsedMs(StartupCheckpoints::StageOneStarted));
}

} // namespace

BENCHMARK(BM_ReachCheckpoint);
BENCHMARK_MAIN();

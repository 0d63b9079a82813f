// The statistics queries over a full-size file: about 10,000 events in 2 MB.
#include <benchmark/benchmark.h>

#include "records/Stats.h"
#include "support/BenchHome.h"
#include "support/StatsFile.h"

namespace velvox {
namespace {

// The benchmarks share one temporary HOME and one full statistics file.
void writeFullStatsFile() {
    static const std::string home = bench::useTemporaryHome();
    bench::writeFullStatsFile();
}

void summaryOf30DaysOverAFullFile(benchmark::State& state) {
    writeFullStatsFile();
    for (auto _ : state) benchmark::DoNotOptimize(Stats::summary(30));
}
BENCHMARK(summaryOf30DaysOverAFullFile)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The four queries of one push of the Home window's state.
void homePushQueriesOverAFullFile(benchmark::State& state) {
    writeFullStatsFile();
    for (auto _ : state) {
        benchmark::DoNotOptimize(Stats::recent(3, 2000));
        benchmark::DoNotOptimize(Stats::smartApps(90));
        benchmark::DoNotOptimize(Stats::summary(30));
        benchmark::DoNotOptimize(Stats::summary(7, Stats::weekStartUTC()));
    }
}
BENCHMARK(homePushQueriesOverAFullFile)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// One append to a full file, as after every dictation (no trim: just below the threshold).
void recordIntoAFile(benchmark::State& state) {
    static const std::string home = bench::useTemporaryHome();
    for (auto _ : state) {
        Stats::record("Move the cache to Redis before Friday, please.", 8, 3.4, "code", "Code",
                      "prompt");
    }
}
BENCHMARK(recordIntoAFile)->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();

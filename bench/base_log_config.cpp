// Log::write on the caller's thread, and Config::load of a full template file.
#include <benchmark/benchmark.h>

#include "base/Log.h"
#include "config/Config.h"
#include "support/BenchHome.h"

namespace velvox {
namespace {

void logWriteOnCallerThread(benchmark::State& state) {
    static const std::string home = bench::useTemporaryHome();
    Log::resetForTesting();
    std::string message = "insert: direct insertion verified, 42 characters into com.example.App";
    for (auto _ : state) Log::write(message);
    Log::flush();  // after the timed loop: the writer's work is not the caller's
}
BENCHMARK(logWriteOnCallerThread)->Iterations(100000)->Repetitions(15)->ReportAggregatesOnly(true);

void configLoadOfFullTemplate(benchmark::State& state) {
    static const std::string home = bench::useTemporaryHome();
    Config::writeTemplateIfMissing();
    for (auto _ : state) {
        Config config = Config::load();
        benchmark::DoNotOptimize(config);
    }
}
BENCHMARK(configLoadOfFullTemplate)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();

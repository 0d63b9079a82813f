// Corrections with the default rules, and the tidy-up, on a 300-word transcript.
#include <benchmark/benchmark.h>

#include "base/Log.h"
#include "config/Config.h"
#include "support/BenchHome.h"
#include "text/Corrections.h"
#include "text/Tidy.h"

namespace velvox {
namespace {

// 300 words, with a few mishearings the default rules repair and some
// spacing the tidy-up repairs.
std::string transcript() {
    const std::string sentences[] = {
        "so the plan for this week is to move reddit for the cache over ,and then look at post "
        "gres again.",
        "we said the super base project would use tail wind and shad cn for the screens.",
        "Amara asked whether sequel light is enough for the mobile build with capacita.",
        "the coaching layer is slow,so we want Redis for the coaching system before Friday.",
        "remember to write to north wind about the invoices.Then check the webhook from Stripe !",
    };
    std::string text;
    int words = 0;
    for (int i = 0; words < 300; ++i) {
        const std::string& sentence = sentences[i % 5];
        for (size_t at = 0; at < sentence.size() && words < 300;) {
            size_t end = sentence.find(' ', at);
            if (end == std::string::npos) end = sentence.size();
            text += sentence.substr(at, end - at) + " ";
            ++words;
            at = end + 1;
        }
    }
    return text;
}

void correctionsWithDefaultRules(benchmark::State& state) {
    static const std::string home = bench::useTemporaryHome();
    Log::resetForTesting();
    const std::string text = transcript();
    const auto& rules = Config::defaultCorrections();
    for (auto _ : state) benchmark::DoNotOptimize(Corrections::apply(text, rules));
    Log::flush();  // after the timed loop: the writer thread's work is not the caller's
}
BENCHMARK(correctionsWithDefaultRules)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void tidyText(benchmark::State& state) {
    const std::string text = transcript();
    for (auto _ : state) benchmark::DoNotOptimize(Tidy::text(text));
}
BENCHMARK(tidyText)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();

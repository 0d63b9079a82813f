// The statistics queries over a full-size file: about 10,000 events in 2 MB.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "config/Config.h"
#include "platform/Files.h"
#include "records/Stats.h"
#include "support/BenchHome.h"

namespace velvox {
namespace {

// Writes events spread over the last 90 days until the file reaches the size
// at which it would be trimmed.
void writeFullStatsFile() {
    static const std::string home = bench::useTemporaryHome();
    Files::createFolder(Config::dir());
    std::mt19937 random(7);
    const char* apps[][2] = {{"Firefox", "firefox"},
                             {"Slack", "slack"},
                             {"Thunderbird", "thunderbird"},
                             {"Code", "code"},
                             {"Terminal", "org.gnome.Terminal"},
                             {"Notes", "org.gnome.Notes"},
                             {"Discord", "discord"},
                             {"Geary", "org.gnome.Geary"}};
    const char* modes[] = {"plain", "plain",   "plain", "prompt",
                           "email", "message", "note",  "context"};
    const std::string words =
        "so the plan for this week is to move the cache to Redis and then look at the "
        "Postgres migration again because the last one was slow and we need to ship before "
        "Friday, also remind me to write to Amara about the Figma file and the new onboarding "
        "screens which still need copy, and check the webhook from Stripe that kept failing";
    int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    std::string content;
    int events = 0;
    while (content.size() < 2000000) {
        auto& app = apps[random() % 8];
        size_t length = 20 + random() % 100;  // about 200 bytes a line
        nlohmann::json event = {{"app", app[0]},
                                {"at", now - 90 * 86400 + static_cast<int64_t>(events) * 700},
                                {"bundle", app[1]},
                                {"mode", modes[random() % 8]},
                                {"seconds", (random() % 600) / 10.0},
                                {"spoken", 10 + random() % 50},
                                {"text", words.substr(0, length)},
                                {"words", 10 + random() % 50}};
        content += event.dump() + "\n";
        ++events;
    }
    std::ofstream(Stats::url(), std::ios::binary) << content;
    static bool told = false;
    if (!told) std::fprintf(stderr, "stats file: %zu bytes, %d events\n", content.size(), events);
    told = true;
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

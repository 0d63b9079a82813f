// Building the transcription form for the longest take (600 s of 32 kbit/s AAC, ~2.4 MB).

#include <benchmark/benchmark.h>

#include "services/Multipart.h"

namespace velvox {
namespace {

void BM_MultipartFor600SecondTake(benchmark::State& state) {
    std::string audio(2'400'000, '\0');
    for (size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<char>(i * 131 % 256);
    std::vector<std::string> vocabulary = {"Velvox", "Redis", "SQLite", "Kubernetes", "PostgreSQL"};
    for (auto _ : state) {
        std::string boundary = Multipart::makeBoundary();
        std::string body =
            Multipart::transcriptionForm(boundary, "whisper-large-v3-turbo", vocabulary, audio);
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * audio.size()));
}
BENCHMARK(BM_MultipartFor600SecondTake)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();

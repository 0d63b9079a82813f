// The dictation road on the main thread, with every edge faked:
// key-up to the transcription request handed to the HTTP seam, and the HTTP
// answer to the delivery outcome (corrections, tidy, history, statistics,
// clipboard write). A failed transcription keeps its take, and a retry of
// the kept take runs the same road from the take to the request.
#include <benchmark/benchmark.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "app/DictationController.h"
#include "base/AppState.h"
#include "capture/HotkeyMonitor.h"
#include "delivery/Paster.h"
#include "fakes/DictationFakes.h"
#include "fakes/ManualMainQueue.h"
#include "feedback/Overlay.h"
#include "platform/Platform.h"
#include "support/BenchHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;
constexpr int64_t kF5 = 96;

std::string threeHundredWords() {
    std::string text;
    const char* words[] = {"reddit", "for",   "the", "cache", "is", "fast", "and",  "super",
                           "base",   "holds", "the", "rows",  "in", "post", "gres", "today"};
    for (int i = 0; i < 300; ++i) {
        text += words[i % 16];
        text += i % 12 == 11 ? ". " : " ";
    }
    return text;
}

struct Road {
    Road() {
        bench::useTemporaryHome();
        ::setenv("TMPDIR", "/tmp", 1);
        ::setenv("VELVOX_GROQ_BASE", "http://127.0.0.1:9", 1);
        queue = testing::installManualMainQueue();
        Config::writeTemplateIfMissing();
        Config::set("useOwnKey", true);
        Config::set("groqApiKey", "gsk_bench");
        Config::set("hotkeyKeyCode", kF5);
        Config::set("cleanup", false);
        Config::set("insertDirectly", false);
        controller = std::make_unique<DictationController>(Config::load());
        controller->connect(monitor);
        monitor.setKeys({kF5});
        monitor.start();
    }
    // The pill's timers live on this road's clock: the pill goes with it, so
    // the next road's pill does not reach into a clock that is gone.
    ~Road() {
        controller.reset();
        Overlay::resetSharedForTesting();
    }

    // Holds the key through a ten-second take (about 40 kB of AAC).
    void record() {
        desktop.keys->keyDown(kF5);
        queue->runUntilIdle();
        auto take = desktop.audio->lastTake();
        take->currentTime = 10;
        std::ofstream(take->path, std::ios::binary) << std::string(40000, '\x01');
    }
    void release() {
        desktop.keys->keyUp(kF5);
        queue->runUntilIdle();
    }
    void finishPaste() { queue->advance(3); }

    std::shared_ptr<testing::ManualMainQueue> queue;
    testing::DictationFakes desktop;
    HotkeyMonitor monitor;
    std::unique_ptr<DictationController> controller;
};

void keyUpToTranscriptionRequest(benchmark::State& state) {
    Road road;
    std::string answer = Json{{"text", "short"}}.dump();
    for (auto _ : state) {
        state.PauseTiming();
        road.record();
        size_t before = road.desktop.http->requests().size();
        state.ResumeTiming();
        road.release();
        state.PauseTiming();
        if (road.desktop.http->requests().size() != before + 1)
            state.SkipWithError("no request was sent");
        road.desktop.http->respond(200, answer);
        road.queue->runUntilIdle();
        road.finishPaste();
        state.ResumeTiming();
    }
}
BENCHMARK(keyUpToTranscriptionRequest)->Unit(benchmark::kMicrosecond)->Iterations(200);

void answerToDeliveryOutcome(benchmark::State& state) {
    Road road;
    std::string answer = Json{{"text", threeHundredWords()}}.dump();
    for (auto _ : state) {
        state.PauseTiming();
        road.record();
        road.release();
        state.ResumeTiming();
        road.desktop.http->respond(200, answer);
        road.queue->runUntilIdle();
        state.PauseTiming();
        if (road.controller->busy()) state.SkipWithError("not delivered");
        road.finishPaste();
        state.ResumeTiming();
    }
}
BENCHMARK(answerToDeliveryOutcome)->Unit(benchmark::kMicrosecond)->Iterations(200);

// The failure's answer to the take kept and the failure flashed.
void failureKeepsTheTake(benchmark::State& state) {
    Road road;
    std::string failure = Json{{"error", "down"}}.dump();
    for (auto _ : state) {
        state.PauseTiming();
        road.record();
        road.release();
        state.ResumeTiming();
        road.desktop.http->respond(500, failure);
        road.queue->runUntilIdle();
        state.PauseTiming();
        if (!AppState::retryAvailable()) state.SkipWithError("the take was not kept");
        road.finishPaste();
        state.ResumeTiming();
    }
}
BENCHMARK(failureKeepsTheTake)->Unit(benchmark::kMicrosecond)->Iterations(200);

// A retry of the kept take to the transcription request, to set against
// keyUpToTranscriptionRequest: from the request on, both roads are one.
void retryToTranscriptionRequest(benchmark::State& state) {
    Road road;
    std::string failure = Json{{"error", "down"}}.dump();
    std::string answer = Json{{"text", "short"}}.dump();
    for (auto _ : state) {
        state.PauseTiming();
        road.record();
        road.release();
        road.desktop.http->respond(500, failure);
        road.queue->runUntilIdle();
        road.finishPaste();
        size_t before = road.desktop.http->requests().size();
        state.ResumeTiming();
        road.controller->retryLastDictation();
        road.queue->runUntilIdle();
        state.PauseTiming();
        if (road.desktop.http->requests().size() != before + 1)
            state.SkipWithError("no request was sent");
        road.desktop.http->respond(200, answer);
        road.queue->runUntilIdle();
        road.finishPaste();
        state.ResumeTiming();
    }
}
BENCHMARK(retryToTranscriptionRequest)->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();

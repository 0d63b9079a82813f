// One frame of the recording pill: the 30-per-second tick (level history and
// dot phase) followed by a full redraw onto an in-memory recording canvas.
#include <benchmark/benchmark.h>

#include <cmath>

#include "fakes/FakeCanvas.h"
#include "feedback/OverlayView.h"

namespace velvox {
namespace {

void frame(benchmark::State& run, const OverlayState& state, const Rect& bounds) {
    OverlayView view;
    view.state = state;
    testing::FakeCanvas canvas;
    double time = 0;
    for (auto _ : run) {
        time += 1.0 / 30;
        view.tick(0.5 + 0.5 * std::sin(time * 7));
        canvas.operations.clear();
        view.draw(canvas, bounds);
        benchmark::DoNotOptimize(canvas.operations.data());
    }
    run.counters["operations"] = static_cast<double>(canvas.operations.size());
}

void BM_MeterFrame(benchmark::State& run) {
    frame(run, OverlayState::listening(), {0, 0, 132, 40});
}
void BM_MeterWithLabelFrame(benchmark::State& run) {
    frame(run, OverlayState::listening("Message"), {0, 0, 182, 40});
}
void BM_ThinkingFrame(benchmark::State& run) {
    frame(run, OverlayState::thinking(), {0, 0, 132, 40});
}

BENCHMARK(BM_MeterFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MeterWithLabelFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThinkingFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();

// Cost of a hotkey press: the key event handed to the monitor's handler, up to
// onDown having run on the main queue (and the same for the release).
#include <benchmark/benchmark.h>

#include <memory>

#include "capture/HotkeyMonitor.h"
#include "capture/InputLevel.h"
#include "fakes/FakeKeyEventSource.h"
#include "fakes/ManualMainQueue.h"
#include "platform/Platform.h"

namespace velvox {
namespace {

struct Setup {
    Setup(std::vector<int64_t> keys) {
        queue = testing::installManualMainQueue();
        source = std::make_shared<testing::FakeKeyEventSource>();
        Platform::installKeyEventSource(source);
        monitor = std::make_unique<HotkeyMonitor>();
        monitor->onDown = [this](int64_t) { ++downs; };
        monitor->onUp = [this](int64_t) { ++ups; };
        monitor->setKeys(keys);
        monitor->start();
    }
    std::shared_ptr<testing::ManualMainQueue> queue;
    std::shared_ptr<testing::FakeKeyEventSource> source;
    std::unique_ptr<HotkeyMonitor> monitor;
    int64_t downs = 0, ups = 0;
};

// One iteration = press (handler + queued onDown) and release (handler + queued onUp).
void OrdinaryHotkeyPressAndRelease(benchmark::State& state) {
    Setup setup({96, -1});
    const KeyEvent down{KeyEventType::keyDown, 96, 0, false};
    const KeyEvent up{KeyEventType::keyUp, 96, 0, false};
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup.source->send(down));
        setup.queue->runUntilIdle();
        benchmark::DoNotOptimize(setup.source->send(up));
        setup.queue->runUntilIdle();
    }
    if (setup.downs != static_cast<int64_t>(state.iterations())) state.SkipWithError("lost onDown");
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(OrdinaryHotkeyPressAndRelease);

void ModifierHotkeyPressAndRelease(benchmark::State& state) {
    Setup setup({63, 61});
    const KeyEvent down{KeyEventType::flagsChanged, 63, ModifierFlag::function, false};
    const KeyEvent up{KeyEventType::flagsChanged, 63, 0, false};
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup.source->send(down));
        setup.queue->runUntilIdle();
        benchmark::DoNotOptimize(setup.source->send(up));
        setup.queue->runUntilIdle();
    }
    if (setup.ups != static_cast<int64_t>(state.iterations())) state.SkipWithError("lost onUp");
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(ModifierHotkeyPressAndRelease);

// What every other keystroke of the user pays on its way to the application.
void OtherKeyPassesThrough(benchmark::State& state) {
    Setup setup({63, 61});
    const KeyEvent down{KeyEventType::keyDown, 0, 0, false};
    const KeyEvent up{KeyEventType::keyUp, 0, 0, false};
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup.source->send(down));
        benchmark::DoNotOptimize(setup.source->send(up));
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(OtherKeyPassesThrough);

void LevelFromPower(benchmark::State& state) {
    double decibels = -60;
    for (auto _ : state) {
        benchmark::DoNotOptimize(inputLevel(decibels));
        decibels = decibels > 5 ? -60 : decibels + 0.37;
    }
}
BENCHMARK(LevelFromPower);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();

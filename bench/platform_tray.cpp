// The tray icon changes at every key-down and key-up of a dictation, on the
// main thread: the cost of one change (SVG file written, indicator pointed at
// it, old file removed, the host told), with a StatusNotifier host listening
// and without one. Also the in-place change of the status line. Run inside
// tests/integration/headless-session.sh.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/Brand.h"
#include "feedback/BrandIcon.h"
#include "integration/tray/StandInWatcher.h"
#include "linux/gtk/AyatanaStatusItem.h"

namespace velvox::testing {

std::string benchFolder() {
    static std::string folder = [] {
        char pattern[] = "/tmp/velvox-tray-bench-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        return std::string(made ? made : "/tmp") + "/velvox-icons";
    }();
    return folder;
}

namespace {

std::vector<MenuItem> statusMenu() {
    return {MenuItem{false, "Idle", false, std::nullopt, nullptr}, MenuItem::separator(),
            MenuItem{false, "Open Velvox\u2026", true, std::nullopt, [] {}},
            MenuItem{false, "Polish transcript", true, true, [] {}}};
}

void toggleIcon(benchmark::State& state, AyatanaStatusItem& item) {
    const VectorImage idle = Brand::menuBarIcon(false), recording = Brand::menuBarIcon(true);
    bool on = false;
    for (auto _ : state) {
        on = !on;
        item.setImage(on ? recording : idle);
        // What the change leaves for the main loop (D-Bus signals, the
        // theme's change notice) is main-thread time too.
        drainMainLoop();
    }
}

void BM_IconChangeWithHost(benchmark::State& state) {
    StandInWatcher watcher;
    if (!watcher.connection()) return state.SkipWithError("no session bus");
    AyatanaStatusItem item(benchFolder());
    item.setImage(Brand::menuBarIcon(false));
    item.setMenu(statusMenu());
    if (!spinUntil([&] { return !watcher.registrations().empty(); }))
        return state.SkipWithError("the item did not register");
    toggleIcon(state, item);
}

void BM_IconChangeWithoutHost(benchmark::State& state) {
    AyatanaStatusItem item(benchFolder());
    item.setImage(Brand::menuBarIcon(false));
    item.setMenu(statusMenu());
    toggleIcon(state, item);
}

void BM_StatusLineChange(benchmark::State& state) {
    AyatanaStatusItem item(benchFolder());
    item.setMenu(statusMenu());
    int round = 0;
    for (auto _ : state) item.setItemTitle(0, "Recording " + std::to_string(++round));
    drainMainLoop();
}

BENCHMARK(BM_IconChangeWithHost)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IconChangeWithoutHost)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatusLineChange)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velvox::testing

int main(int argc, char** argv) {
    if (!gtk_init_check(nullptr, nullptr)) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(
        std::filesystem::path(velvox::testing::benchFolder()).parent_path());
    return 0;
}

// One push of the Home window's whole state over a full statistics file
// (about 10,000 events in 2 MB): from the call to the script handed to the
// web view.
#include <benchmark/benchmark.h>

#include "base/Clock.h"
#include "fakes/FakeDesktop.h"
#include "fakes/ManualMainQueue.h"
#include "home/Home.h"
#include "platform/Desktop.h"
#include "platform/IconImages.h"
#include "platform/Platform.h"
#include "platform/WebView.h"
#include "support/BenchHome.h"
#include "support/StatsFile.h"

namespace velvox {
namespace {

// Keeps only the size of the last script, so that recording costs nothing.
class ScriptSink final : public WebView {
  public:
    void setEvents(WebViewEvents newEvents) override { events = std::move(newEvents); }
    void present() override {}
    void hide() override {}
    bool isVisible() override { return true; }
    bool isKey() override { return true; }
    void loadPage(const std::string&) override {}
    void evaluate(const std::string& script, std::function<void(const std::string&)>) override {
        lastScriptBytes = script.size();
    }
    void beginDrag() override {}
    std::optional<std::string> titleBarDoubleClickAction() override { return std::nullopt; }
    void minimize() override {}
    void zoom() override {}
    void setDarkAppearance(bool) override {}
    ColorScheme desktopColorScheme() override { return ColorScheme::light; }

    WebViewEvents events;
    size_t lastScriptBytes = 0;
};

// Every application has an icon (a 4 kB stand-in PNG), cached after the first push.
class BenchIcons final : public IconImages {
  public:
    std::optional<std::string> symbolPNG(const std::string&, int) override {
        return std::string(1500, 'p');
    }
    ApplicationIcon applicationIcon(const std::string&, int) override {
        return {true, std::string(4096, 'i')};
    }
};

void pushAllOverAFullFile(benchmark::State& state) {
    static bool ready = false;
    static std::shared_ptr<ScriptSink> sink = std::make_shared<ScriptSink>();
    if (!ready) {
        bench::useTemporaryHome();
        bench::writeFullStatsFile();
        auto queue = testing::installManualMainQueue();
        Platform::installClock(std::make_shared<SystemClock>());
        auto desktop = std::make_shared<testing::FakeDesktop>();
        desktop->resources["settings.html"] = "/pages/settings.html";
        desktop->resources["onboarding.html"] = "/pages/onboarding.html";
        Platform::installDesktop(desktop);
        Platform::installIconImages(std::make_shared<BenchIcons>());
        Platform::installWebView(sink);
        Home::show();
        sink->events.finishedLoading();
        ready = true;
    }
    Home& home = *Home::shared();
    for (auto _ : state) {
        home.pushAll();
        benchmark::DoNotOptimize(sink->lastScriptBytes);
    }
    state.counters["script_bytes"] = static_cast<double>(sink->lastScriptBytes);
}
BENCHMARK(pushAllOverAFullFile)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();

// One push of the Home window's whole state over a full statistics file
// (about 10,000 events in 2 MB): from the call to the script handed to the
// web view.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "config/Config.h"
#include "fakes/FakeDesktop.h"
#include "fakes/ManualMainQueue.h"
#include "home/Home.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/Files.h"
#include "platform/IconImages.h"
#include "platform/Platform.h"
#include "platform/WebView.h"
#include "records/Stats.h"
#include "support/BenchHome.h"

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
    void setDarkAppearance() override {}

    WebViewEvents events;
    size_t lastScriptBytes = 0;
};

void writeFullStatsFile() {
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
                           "email", "message", "note",  "plain"};
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
        size_t length = 20 + random() % 100;
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
    std::fprintf(stderr, "stats file: %zu bytes, %d events\n", content.size(), events);
}

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
        writeFullStatsFile();
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

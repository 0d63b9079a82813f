// Opening the Home window on WebKitGTK (run inside the headless session):
// from creating the window to the first painted frame of the settings page,
// and bringing back a hidden window that already holds its page.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "linux/glib/GlibMainQueue.h"
#include "linux/home/WebKitHomeWindow.h"
#include "platform/Platform.h"
#include "support/BenchHome.h"

namespace velvox {
namespace {

const std::string kPages = VELVOX_SOURCE_DIR "/resources";

bool spinUntil(const std::function<bool()>& condition, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

bool setUp() {
    static const bool ready = [] {
        ::setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
        ::setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 1);
        if (!gtk_init_check(nullptr, nullptr)) return false;
        bench::useTemporaryHome();
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
        return true;
    }();
    return ready;
}

// One window with the settings page, followed until the page has drawn a frame
// and the window has painted it.
struct OpenedWindow {
    std::string home = std::getenv("HOME");
    WebKitHomeWindow window{kPages, home + "/home-window.json", [](const std::string&) {}};
    bool loaded = false;
    bool framed = false;
    int draws = 0;

    static gboolean counted(GtkWidget*, cairo_t*, gpointer data) {
        ++static_cast<OpenedWindow*>(data)->draws;
        return FALSE;
    }
    WebKitWebView* view() { return WEBKIT_WEB_VIEW(gtk_bin_get_child(GTK_BIN(window.window()))); }

    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    double loadedAfterMs = 0;  // the load finished this long after the start

    bool open() {
        WebViewEvents events;
        events.finishedLoading = [this] {
            loaded = true;
            loadedAfterMs = std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now() - started)
                                .count();
        };
        window.setEvents(events);
        window.present();
        g_signal_connect_after(view(), "draw", G_CALLBACK(counted), this);
        window.loadPage(kPages + "/settings.html");
        if (!spinUntil([&] { return loaded; }, std::chrono::seconds(30))) return false;
        // Two animation frames: the first one after the load has been drawn.
        webkit_web_view_call_async_javascript_function(
            view(),
            "await new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)));"
            "return true;",
            -1, nullptr, nullptr, nullptr, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                if (JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
                        WEBKIT_WEB_VIEW(source), result, nullptr))
                    g_object_unref(value);
                static_cast<OpenedWindow*>(data)->framed = true;
            },
            this);
        if (!spinUntil([&] { return framed; }, std::chrono::seconds(30))) return false;
        // ... and the window has painted since.
        int before = draws;
        gtk_widget_queue_draw(GTK_WIDGET(view()));
        return spinUntil([&] { return draws > before; }, std::chrono::seconds(5));
    }
    ~OpenedWindow() { g_signal_handlers_disconnect_by_data(view(), this); }
};

void openWindowToFirstPaintedSettingsPage(benchmark::State& state) {
    if (!setUp()) return state.SkipWithError("no display");
    double loadedAfterMs = 0;
    for (auto _ : state) {
        auto opened = std::make_unique<OpenedWindow>();
        if (!opened->open()) return state.SkipWithError("the page did not paint");
        state.PauseTiming();
        loadedAfterMs += opened->loadedAfterMs;
        opened.reset();
        // Let the web process of the closed window go before the next round.
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        spinUntil([&] { return std::chrono::steady_clock::now() > until; },
                  std::chrono::seconds(1));
        state.ResumeTiming();
    }
    state.counters["load_finished_ms"] =
        benchmark::Counter(loadedAfterMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(openWindowToFirstPaintedSettingsPage)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

void showHiddenWindowToFirstPaint(benchmark::State& state) {
    if (!setUp()) return state.SkipWithError("no display");
    OpenedWindow opened;
    if (!opened.open()) return state.SkipWithError("the page did not paint");
    for (auto _ : state) {
        state.PauseTiming();
        opened.window.hide();
        spinUntil([] { return false; }, std::chrono::seconds(0));
        int before = opened.draws;
        state.ResumeTiming();
        opened.window.present();
        if (!spinUntil([&] { return opened.draws > before; }, std::chrono::seconds(10)))
            return state.SkipWithError("the window did not paint");
    }
}
BENCHMARK(showHiddenWindowToFirstPaint)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();

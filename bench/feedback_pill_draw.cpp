// The pill on the real graphics stack. One full draw of the pill through
// cairo and Pango into an image surface (the work of each of the 30 frames a
// second while recording), and the overlay's update on a level change with a
// real GTK window: the meter's tick, the redraw request and the redraw itself.
// The second needs a display (run inside the headless session).
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>
#include <memory>

#include "fakes/FakeAccessibility.h"
#include "fakes/ManualMainQueue.h"
#include "feedback/Overlay.h"
#include "feedback/OverlayView.h"
#include "linux/LinuxFeedback.h"
#include "linux/draw/CairoCanvas.h"
#include "linux/gtk/GtkPanel.h"
#include "platform/Accessibility.h"
#include "platform/Platform.h"
#include "support/BenchHome.h"

namespace velvox {
namespace {

struct Target {
    cairo_surface_t* surface;
    cairo_t* cairo;
    Target(double width, double height, double scale) {
        surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32,
                                             static_cast<int>(std::ceil(width * scale)),
                                             static_cast<int>(std::ceil(height * scale)));
        cairo_surface_set_device_scale(surface, scale, scale);
        cairo = cairo_create(surface);
    }
    ~Target() {
        cairo_destroy(cairo);
        cairo_surface_destroy(surface);
    }
    // What the panel does before the view draws: a transparent start.
    void clear() {
        cairo_save(cairo);
        cairo_set_operator(cairo, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(cairo, 0, 0, 0, 0);
        cairo_paint(cairo);
        cairo_restore(cairo);
    }
};

std::shared_ptr<Image> makeLogo(int side) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side);
    cairo_t* cairo = cairo_create(surface);
    cairo_set_source_rgb(cairo, 0.2, 0.6, 0.9);
    cairo_arc(cairo, side / 2.0, side / 2.0, side / 2.0, 0, 2 * M_PI);
    cairo_fill(cairo);
    cairo_destroy(cairo);
    return std::make_shared<CairoImage>(surface);
}

void draw(benchmark::State& run, const OverlayState& state, double width, double scale,
          std::shared_ptr<Image> logo = nullptr) {
    static PangoText text("Sans");
    OverlayView view;
    view.state = state;
    view.logo = std::move(logo);
    Target target(width, 40, scale);
    CairoCanvas canvas(target.cairo, text);
    double time = 0;
    for (auto _ : run) {
        time += 1.0 / 30;
        view.tick(0.5 + 0.5 * std::sin(time * 7));
        target.clear();
        view.draw(canvas, {0, 0, width, 40});
        cairo_surface_flush(target.surface);
    }
    benchmark::DoNotOptimize(cairo_image_surface_get_data(target.surface));
}

void BM_DrawMeter(benchmark::State& run) {
    draw(run, OverlayState::listening(), 132, 1);
}
void BM_DrawMeterHiDpi(benchmark::State& run) {
    draw(run, OverlayState::listening(), 132, 2);
}
void BM_DrawMeterWithLabel(benchmark::State& run) {
    draw(run, OverlayState::listening("Message"), 185, 1);
}
void BM_DrawThinking(benchmark::State& run) {
    draw(run, OverlayState::thinking(), 132, 1);
}
void BM_DrawError(benchmark::State& run) {
    draw(run, OverlayState::error("Microphone unavailable"), 180, 1);
}
void BM_DrawMeterWithLogo(benchmark::State& run) {
    draw(run, OverlayState::listening(), 172, 1, makeLogo(static_cast<int>(run.range(0))));
}

BENCHMARK(BM_DrawMeter)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawMeterHiDpi)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawMeterWithLabel)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawThinking)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawError)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawMeterWithLogo)->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond);

// Keeps the panels the overlay makes, to watch their draws.
class KeepingPanels final : public Panels {
  public:
    explicit KeepingPanels(std::shared_ptr<PangoText> text) : real_(std::move(text)) {}
    std::shared_ptr<Panel> createPanel(const Size& size) override {
        last = std::dynamic_pointer_cast<GtkPanel>(real_.createPanel(size));
        return last;
    }
    std::shared_ptr<GtkPanel> last;

  private:
    GtkPanels real_;
};

// One meter tick of the shown overlay on its real window: the level is read,
// the history scrolls, a redraw is asked for, and GTK redraws the window
// (forced at once rather than at the next frame of the display).
void BM_OverlayLevelUpdate(benchmark::State& run) {
    if (!gtk_init_check(nullptr, nullptr)) {
        run.SkipWithError("no display");
        return;
    }
    bench::useTemporaryHome();
    auto queue = testing::installManualMainQueue();
    auto accessibility = std::make_shared<testing::FakeAccessibility>();
    accessibility->trusted = false;
    Platform::installAccessibility(accessibility);
    installLinuxFeedback();
    auto panels =
        std::make_shared<KeepingPanels>(dynamic_cast<CairoGraphics&>(Platform::graphics()).text());
    Platform::installPanels(panels);

    auto overlay = Overlay::create();
    double level = 0;
    overlay->show(OverlayState::listening(), Overlay::plainAccent, [&] { return level; });
    auto& panel = *panels->last;
    GdkWindow* window = gtk_widget_get_window(panel.widget());
    // The fade-in runs on GLib's clock: let it finish first.
    while (panel.alpha() < 1) g_main_context_iteration(nullptr, TRUE);
    int drawsBefore = panel.drawCountForTesting();
    for (auto _ : run) {
        level = level > 0.5 ? 0.1 : 0.9;
        queue->advance(1.0 / 30);
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gdk_window_process_updates(window, TRUE);
        G_GNUC_END_IGNORE_DEPRECATIONS
        gdk_display_sync(gdk_window_get_display(window));
    }
    run.counters["drawsPerUpdate"] =
        static_cast<double>(panel.drawCountForTesting() - drawsBefore) /
        static_cast<double>(run.iterations());
    overlay->hide(0);
    queue->advance(1);
    overlay.reset();
    panels->last.reset();
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    Log::flush();
}
BENCHMARK(BM_OverlayLevelUpdate)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();

#include "linux/gtk/GtkPanel.h"

#include <algorithm>
#include <cmath>

#include "linux/draw/CairoCanvas.h"
#include "linux/draw/CairoOwned.h"
#include "linux/draw/PanelMotion.h"

namespace velvox {

using namespace panel_motion;

std::shared_ptr<GtkPanel> GtkPanel::create(const Size& size, std::shared_ptr<PangoText> text) {
    if (!gdk_display_get_default()) return nullptr;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_POPUP);
    if (!window) return nullptr;
    return std::shared_ptr<GtkPanel>(new GtkPanel(window, size, std::move(text)));
}

GtkPanel::GtkPanel(GtkWidget* window, const Size& size, std::shared_ptr<PangoText> text)
    : window_(window), screen_(gtk_widget_get_screen(window)), text_(std::move(text)) {
    if (!text_) text_ = std::make_shared<PangoText>();
    GtkWindow* gtkWindow = GTK_WINDOW(window_);
    gtk_window_set_title(gtkWindow, "Velvox pill");
    gtk_widget_set_app_paintable(window_, TRUE);
    gtk_window_set_decorated(gtkWindow, FALSE);
    // A popup window is override-redirect: the window manager neither
    // focuses nor decorates nor lists it. The hints below say the same to
    // anything that looks at the window anyway.
    gtk_window_set_type_hint(gtkWindow, GDK_WINDOW_TYPE_HINT_NOTIFICATION);
    gtk_window_set_accept_focus(gtkWindow, FALSE);
    gtk_window_set_focus_on_map(gtkWindow, FALSE);
    gtk_window_set_keep_above(gtkWindow, TRUE);
    gtk_window_stick(gtkWindow);
    gtk_window_set_skip_taskbar_hint(gtkWindow, TRUE);
    gtk_window_set_skip_pager_hint(gtkWindow, TRUE);

    chooseVisual();
    g_signal_connect(window_, "draw", G_CALLBACK(onDraw), this);
    g_signal_connect(window_, "size-allocate", G_CALLBACK(onSizeAllocate), this);
    g_signal_connect(screen_, "composited-changed", G_CALLBACK(onCompositedChanged), this);
    setContentSize(size);
    gtk_widget_realize(window_);
    letClicksThrough();
    applyAlpha(alpha_);
}

GtkPanel::~GtkPanel() {
    animationSource_.remove();
    g_signal_handlers_disconnect_by_data(screen_, this);
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_widget_destroy(window_);
}

void GtkPanel::chooseVisual() {
    GdkVisual* rgba = gdk_screen_get_rgba_visual(screen_);
    bool translucent = rgba && gdk_screen_is_composited(screen_);
    opaque_ = !translucent;
    gtk_widget_set_visual(window_, translucent ? rgba : gdk_screen_get_system_visual(screen_));
}

void GtkPanel::letClicksThrough() {
    // An empty region, not NULL (which would mean the whole window): no
    // pointer event ever lands on the pill, they reach the window below.
    // Set on the X window itself, so it is set again for each new one.
    CairoRegion nowhere(cairo_region_create());
    gtk_widget_input_shape_combine_region(window_, nowhere.get());
}

void GtkPanel::onCompositedChanged(GdkScreen*, gpointer data) {
    auto* self = static_cast<GtkPanel*>(data);
    // The visual can only change while the window has no X window behind it.
    bool wasVisible = self->isVisible();
    gtk_widget_hide(self->window_);
    gtk_widget_unrealize(self->window_);
    self->chooseVisual();
    // A new X window: it has to be told its place again.
    self->setContentSize(self->size_);
    self->setOrigin(self->origin_);
    gtk_widget_realize(self->window_);
    self->letClicksThrough();
    self->updateShape();
    self->applyAlpha(self->alpha_);
    if (wasVisible) self->orderFront();
}

void GtkPanel::updateShape() {
    if (!opaque_) {
        gtk_widget_shape_combine_region(window_, nullptr);
        return;
    }
    int width = gtk_widget_get_allocated_width(window_);
    int height = gtk_widget_get_allocated_height(window_);
    if (width <= 1 || height <= 1) {
        width = pixels(size_.width);
        height = pixels(size_.height);
    }
    // Without an alpha channel the corners would show as solid squares: cut
    // the window to the capsule instead.
    CairoSurface mask(cairo_image_surface_create(CAIRO_FORMAT_A1, width, height));
    {
        CairoContext cairo(cairo_create(mask.get()));
        cairo_set_antialias(cairo.get(), CAIRO_ANTIALIAS_NONE);
        CairoCanvas::addRoundedRect(cairo.get(),
                                    {0, 0, static_cast<double>(width), static_cast<double>(height)},
                                    height / 2.0);
        cairo_fill(cairo.get());
    }  // the drawing is finished on the mask before the region is read from it
    CairoRegion region(gdk_cairo_region_create_from_surface(mask.get()));
    gtk_widget_shape_combine_region(window_, region.get());
}

void GtkPanel::onSizeAllocate(GtkWidget*, GdkRectangle*, gpointer data) {
    static_cast<GtkPanel*>(data)->updateShape();
}

gboolean GtkPanel::onDraw(GtkWidget* widget, cairo_t* cairo, gpointer data) {
    auto* self = static_cast<GtkPanel*>(data);
    ++self->draws_;
    cairo_save(cairo);
    cairo_set_operator(cairo, CAIRO_OPERATOR_SOURCE);
    if (self->opaque_) {
        const Colour& backdrop = kOpaqueBackdrop;
        cairo_set_source_rgb(cairo, backdrop.red, backdrop.green, backdrop.blue);
    } else {
        cairo_set_source_rgba(cairo, 0, 0, 0, 0);
    }
    cairo_paint(cairo);
    cairo_restore(cairo);
    if (self->handler_) {
        Rect bounds{0, 0, static_cast<double>(gtk_widget_get_allocated_width(widget)),
                    static_cast<double>(gtk_widget_get_allocated_height(widget))};
        CairoCanvas canvas(cairo, *self->text_);
        self->handler_(canvas, bounds);
    }
    return TRUE;
}

void GtkPanel::setContentSize(const Size& size) {
    size_ = size;
    int width = pixels(size.width), height = pixels(size.height);
    gtk_widget_set_size_request(window_, width, height);
    gtk_window_resize(GTK_WINDOW(window_), width, height);
}

void GtkPanel::setOrigin(const Point& topLeft) {
    origin_ = topLeft;
    gtk_window_move(GTK_WINDOW(window_), static_cast<int>(std::lround(topLeft.x)),
                    static_cast<int>(std::lround(topLeft.y)));
}

void GtkPanel::applyAlpha(double alpha) {
    alpha_ = alpha;
    gtk_widget_set_opacity(window_, alpha);
}

void GtkPanel::setAlpha(double alpha) {
    stopAnimation();
    applyAlpha(clampedAlpha(alpha));
}

void GtkPanel::stopAnimation() {
    if (!animationSource_) return;
    animationSource_.remove();
    runSoon(std::move(animation_.completion));
    animation_ = {};
}

void GtkPanel::animateAlpha(double target, double seconds, std::function<void()> completion) {
    stopAnimation();
    target = clampedAlpha(target);
    if (!std::isfinite(seconds) || seconds <= 0 || target == alpha_) {
        applyAlpha(target);
        runSoon(std::move(completion));
        return;
    }
    animation_ = {alpha_, target, g_get_monotonic_time(), seconds, std::move(completion)};
    animationSource_ = g_timeout_add_full(G_PRIORITY_DEFAULT, kAnimationStepMilliseconds,
                                          onAnimationTick, this, nullptr);
}

gboolean GtkPanel::onAnimationTick(gpointer data) {
    return static_cast<GtkPanel*>(data)->stepAnimation() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

bool GtkPanel::stepAnimation() {
    double elapsed =
        static_cast<double>(g_get_monotonic_time() - animation_.startMicroseconds) / 1e6;
    double progress = std::min(elapsed / animation_.seconds, 1.0);
    applyAlpha(animation_.from + (animation_.to - animation_.from) * easeInOut(progress));
    if (progress < 1) return true;
    animationSource_.forget();
    auto completion = std::move(animation_.completion);
    animation_ = {};
    // Last thing touching the panel: the completion may start a new
    // animation, or even let the panel go.
    if (completion) completion();
    return false;
}

void GtkPanel::orderFront() {
    gtk_widget_show(window_);
    // Showing an override-redirect window puts it on top, but one that was
    // already shown may have been covered since.
    if (GdkWindow* window = gtk_widget_get_window(window_)) gdk_window_raise(window);
}

void GtkPanel::orderOut() {
    gtk_widget_hide(window_);
}

bool GtkPanel::isVisible() {
    return gtk_widget_get_mapped(window_);
}

void GtkPanel::setNeedsDisplay() {
    // GTK gathers every request into one draw at the next frame.
    gtk_widget_queue_draw(window_);
}

std::shared_ptr<Panel> GtkPanels::createPanel(const Size& size) {
    return GtkPanel::create(size, text_);
}

}  // namespace velvox

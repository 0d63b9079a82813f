#include "linux/wayland/LayerShellPanel.h"

#include <cairo.h>
#include <glib.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cmath>

#include "linux/draw/CairoCanvas.h"
#include "linux/draw/CairoOwned.h"
#include "linux/draw/PanelMotion.h"
#include "platform/Screens.h"
#include "wlr-layer-shell-unstable-v1-client.h"

namespace velvox {

namespace {

using namespace panel_motion;

}  // namespace

LayerShellPanel::LayerShellPanel(std::shared_ptr<WaylandConnection> connection, const Size& size,
                                 std::shared_ptr<PangoText> text)
    : connection_(std::move(connection)), size_(size), text_(std::move(text)) {}

LayerShellPanel::~LayerShellPanel() {
    stopAnimation();
    orderOut();
}

void LayerShellPanel::setContentSize(const Size& size) {
    size_ = size;
    place();
}

void LayerShellPanel::setOrigin(const Point& topLeft) {
    origin_ = topLeft;
    place();
}

void LayerShellPanel::place() {
    if (!layer_) return;
    // The origin's distance from the bottom of its screen; the compositor
    // picks the output, so the pill sits centred on whichever it is.
    int bottom = 0;
    for (const auto& screen : Platform::screens().screens()) {
        const Rect& frame = screen.frame;
        if (origin_.x >= frame.x && origin_.x < frame.x + frame.width && origin_.y >= frame.y &&
            origin_.y < frame.y + frame.height) {
            bottom =
                static_cast<int>(std::lround(frame.y + frame.height - origin_.y - size_.height));
        }
    }
    zwlr_layer_surface_v1_set_size(layer_, pixels(size_.width), pixels(size_.height));
    zwlr_layer_surface_v1_set_margin(layer_, 0, 0, std::max(0, bottom), 0);
    if (configured_) {
        setNeedsDisplay();
    } else {
        wl_surface_commit(surface_);
        connection_->flush();
    }
}

void LayerShellPanel::orderFront() {
    if (layer_) return;
    static const zwlr_layer_surface_v1_listener listener = {configured, closed};
    surface_ = wl_compositor_create_surface(connection_->compositor());
    // An empty input region: clicks go to what lies below.
    wl_region* region = wl_compositor_create_region(connection_->compositor());
    wl_surface_set_input_region(surface_, region);
    wl_region_destroy(region);
    // No output named: the compositor puts it on the one in front.
    layer_ =
        zwlr_layer_shell_v1_get_layer_surface(connection_->layerShell(), surface_, nullptr,
                                              ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "velvox-pill");
    zwlr_layer_surface_v1_add_listener(layer_, &listener, this);
    zwlr_layer_surface_v1_set_anchor(layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM);
    zwlr_layer_surface_v1_set_keyboard_interactivity(layer_, 0);
    configured_ = false;
    place();
}

void LayerShellPanel::orderOut() {
    redraw_.remove();
    if (layer_) zwlr_layer_surface_v1_destroy(layer_);
    if (surface_) wl_surface_destroy(surface_);
    for (wl_buffer* buffer : buffers_) wl_buffer_destroy(buffer);
    buffers_.clear();
    layer_ = nullptr;
    surface_ = nullptr;
    configured_ = false;
    connection_->flush();
}

void LayerShellPanel::configured(void* data, zwlr_layer_surface_v1* layer, uint32_t serial,
                                 uint32_t, uint32_t) {
    auto* self = static_cast<LayerShellPanel*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    self->configured_ = true;
    self->draw();
}

void LayerShellPanel::closed(void* data, zwlr_layer_surface_v1*) {
    // The output went away; the next orderFront finds another.
    static_cast<LayerShellPanel*>(data)->orderOut();
}

void LayerShellPanel::setNeedsDisplay() {
    if (redraw_ || !layer_) return;
    redraw_ = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* self = static_cast<LayerShellPanel*>(data);
            self->redraw_.forget();
            self->draw();
            return G_SOURCE_REMOVE;
        },
        this);
}

void LayerShellPanel::draw() {
    if (!layer_ || !configured_) return;
    int width = pixels(size_.width), height = pixels(size_.height);
    int stride = width * 4;
    size_t bytes = static_cast<size_t>(stride) * height;
    int fd = ::memfd_create("velvox-pill", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        if (fd >= 0) ::close(fd);
        return;
    }
    void* pixelsData = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixelsData == MAP_FAILED) {
        ::close(fd);
        return;
    }
    // Cairo's ARGB32 is the premultiplied ARGB8888 every compositor takes.
    CairoSurface image(cairo_image_surface_create_for_data(
        static_cast<unsigned char*>(pixelsData), CAIRO_FORMAT_ARGB32, width, height, stride));
    CairoContext cairo(cairo_create(image.get()));
    cairo_set_operator(cairo.get(), CAIRO_OPERATOR_CLEAR);
    cairo_paint(cairo.get());
    cairo_set_operator(cairo.get(), CAIRO_OPERATOR_OVER);
    if (handler_) {
        cairo_push_group(cairo.get());
        CairoCanvas canvas(cairo.get(), *text_);
        handler_(canvas, Rect{0, 0, static_cast<double>(width), static_cast<double>(height)});
        cairo_pop_group_to_source(cairo.get());
        cairo_paint_with_alpha(cairo.get(), alpha_);
    }
    // Every drawing is in the pixels before they are handed over.
    cairo.reset();
    cairo_surface_flush(image.get());
    image.reset();
    ::munmap(pixelsData, bytes);

    wl_shm_pool* pool = wl_shm_create_pool(connection_->shm(), fd, static_cast<int32_t>(bytes));
    wl_buffer* buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    ::close(fd);
    // A buffer goes once the compositor has let go of it.
    static const wl_buffer_listener listener = {[](void* data, wl_buffer* released) {
        auto& buffers = static_cast<LayerShellPanel*>(data)->buffers_;
        std::erase(buffers, released);
        wl_buffer_destroy(released);
    }};
    wl_buffer_add_listener(buffer, &listener, this);
    buffers_.push_back(buffer);
    wl_surface_attach(surface_, buffer, 0, 0);
    wl_surface_damage(surface_, 0, 0, width, height);
    wl_surface_commit(surface_);
    connection_->flush();
}

void LayerShellPanel::setAlpha(double alpha) {
    stopAnimation();
    alpha_ = clampedAlpha(alpha);
    setNeedsDisplay();
}

void LayerShellPanel::stopAnimation() {
    if (!animationSource_) return;
    animationSource_.remove();
    runSoon(std::move(animation_.completion));
    animation_ = {};
}

void LayerShellPanel::animateAlpha(double target, double seconds,
                                   std::function<void()> completion) {
    stopAnimation();
    target = clampedAlpha(target);
    if (!std::isfinite(seconds) || seconds <= 0 || target == alpha_) {
        alpha_ = target;
        setNeedsDisplay();
        runSoon(std::move(completion));
        return;
    }
    animation_ = {alpha_, target, g_get_monotonic_time(), seconds, std::move(completion)};
    animationSource_ = g_timeout_add(
        kAnimationStepMilliseconds,
        [](gpointer data) -> gboolean {
            auto* self = static_cast<LayerShellPanel*>(data);
            double elapsed =
                static_cast<double>(g_get_monotonic_time() - self->animation_.startMicroseconds) /
                1e6;
            double progress = std::min(elapsed / self->animation_.seconds, 1.0);
            self->alpha_ = self->animation_.from +
                           (self->animation_.to - self->animation_.from) * easeInOut(progress);
            self->setNeedsDisplay();
            if (progress < 1) return G_SOURCE_CONTINUE;
            self->animationSource_.forget();
            auto completion = std::move(self->animation_.completion);
            self->animation_ = {};
            // Last thing touching the panel: the completion may let it go.
            if (completion) completion();
            return G_SOURCE_REMOVE;
        },
        this);
}

}  // namespace velvox

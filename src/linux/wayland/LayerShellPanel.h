#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "linux/draw/PangoText.h"
#include "linux/glib/GlibIds.h"
#include "linux/wayland/WaylandConnection.h"
#include "platform/Panel.h"

struct wl_surface;
struct wl_buffer;
struct zwlr_layer_surface_v1;

namespace velvox {

// The pill as a surface of the compositor's overlay layer: above every
// window, never focused, clicks passing through, on the output the compositor
// has in front (the one with the focused window) each time it is shown.
// Drawn with Cairo into shared memory; the opacity is drawn in, as a layer
// surface has none of its own. Horizontally centred on that output, at the
// distance from its bottom that the origin asks for.
class LayerShellPanel final : public Panel {
  public:
    LayerShellPanel(std::shared_ptr<WaylandConnection> connection, const Size& size,
                    std::shared_ptr<PangoText> text);
    ~LayerShellPanel() override;
    LayerShellPanel(const LayerShellPanel&) = delete;
    LayerShellPanel& operator=(const LayerShellPanel&) = delete;

    Size contentSize() override { return size_; }
    void setContentSize(const Size& size) override;
    void setOrigin(const Point& topLeft) override;
    double alpha() override { return alpha_; }
    void setAlpha(double alpha) override;
    void animateAlpha(double target, double seconds, std::function<void()> completion) override;
    void orderFront() override;
    void orderOut() override;
    bool isVisible() override { return layer_ != nullptr; }
    void setDrawHandler(DrawHandler handler) override { handler_ = std::move(handler); }
    void setNeedsDisplay() override;

  private:
    static void configured(void* self, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width,
                           uint32_t height);
    static void closed(void* self, zwlr_layer_surface_v1*);
    void place();
    void draw();
    void stopAnimation();

    std::shared_ptr<WaylandConnection> connection_;
    Size size_;
    Point origin_;
    std::shared_ptr<PangoText> text_;
    DrawHandler handler_;
    double alpha_ = 1;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layer_ = nullptr;
    // Frames the compositor has not released yet: they go when it does, and
    // at the latest with the surface, so none outlives the panel.
    std::vector<wl_buffer*> buffers_;
    bool configured_ = false;
    SourceId redraw_;
    SourceId animationSource_;
    struct Animation {
        double from = 0, to = 0;
        int64_t startMicroseconds = 0;
        double seconds = 0;
        std::function<void()> completion;
    } animation_;
};

class LayerShellPanels final : public Panels {
  public:
    LayerShellPanels(std::shared_ptr<WaylandConnection> connection, std::shared_ptr<PangoText> text)
        : connection_(std::move(connection)), text_(std::move(text)) {}
    std::shared_ptr<Panel> createPanel(const Size& size) override {
        return std::make_shared<LayerShellPanel>(connection_, size, text_);
    }
    bool showOnScreenInFront() const override { return true; }

  private:
    std::shared_ptr<WaylandConnection> connection_;
    std::shared_ptr<PangoText> text_;
};

}  // namespace velvox

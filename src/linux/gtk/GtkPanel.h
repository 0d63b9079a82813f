#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "linux/draw/PangoText.h"
#include "linux/glib/GlibIds.h"
#include "platform/Panel.h"

namespace velvox {

// A floating status window on GTK: a popup window (the window manager leaves
// it alone, so it never takes the focus), with an empty input region so every
// click goes to the window below, drawn entirely by its draw handler through
// cairo. Where a compositor runs the window has an alpha channel and the pill
// floats translucent; without one the window is opaque, so the background is
// painted with a solid backdrop and the corners are cut away with a shape.
// Main thread only.
class GtkPanel final : public Panel {
  public:
    // What stands behind the pill's translucent fill when nothing can show
    // through the window.
    static constexpr Colour kOpaqueBackdrop{0.2, 0.2, 0.21, 1};

    // A hidden panel, or nullptr when GTK has no display.
    static std::shared_ptr<GtkPanel> create(const Size& size, std::shared_ptr<PangoText> text);
    ~GtkPanel() override;
    GtkPanel(const GtkPanel&) = delete;
    GtkPanel& operator=(const GtkPanel&) = delete;

    Size contentSize() override { return size_; }
    void setContentSize(const Size& size) override;
    void setOrigin(const Point& topLeft) override;

    double alpha() override { return alpha_; }
    void setAlpha(double alpha) override;
    void animateAlpha(double target, double seconds, std::function<void()> completion) override;

    void orderFront() override;
    void orderOut() override;
    bool isVisible() override;

    void setDrawHandler(DrawHandler handler) override { handler_ = std::move(handler); }
    void setNeedsDisplay() override;

    GtkWidget* widget() const { return window_; }
    // Whether the window is drawn opaque with cut corners (no compositor).
    bool drawsOpaque() const { return opaque_; }
    int drawCountForTesting() const { return draws_; }

  private:
    struct Animation {
        double from = 0, to = 0;
        gint64 startMicroseconds = 0;
        double seconds = 0;
        std::function<void()> completion;
    };

    GtkPanel(GtkWidget* window, const Size& size, std::shared_ptr<PangoText> text);

    void chooseVisual();
    void letClicksThrough();
    void updateShape();
    void applyAlpha(double alpha);
    // Stops a running animation where it is; its completion runs soon.
    void stopAnimation();
    bool stepAnimation();

    static gboolean onDraw(GtkWidget* widget, cairo_t* cairo, gpointer self);
    static void onSizeAllocate(GtkWidget* widget, GdkRectangle* allocation, gpointer self);
    static void onCompositedChanged(GdkScreen* screen, gpointer self);
    static gboolean onAnimationTick(gpointer self);

    GtkWidget* window_;
    GdkScreen* screen_;
    Size size_;
    Point origin_;
    std::shared_ptr<PangoText> text_;
    DrawHandler handler_;
    double alpha_ = 1;
    bool opaque_ = false;
    int draws_ = 0;
    Animation animation_;
    SourceId animationSource_;
};

class GtkPanels final : public Panels {
  public:
    explicit GtkPanels(std::shared_ptr<PangoText> text) : text_(std::move(text)) {}
    std::shared_ptr<Panel> createPanel(const Size& size) override;

  private:
    std::shared_ptr<PangoText> text_;
};

}  // namespace velvox

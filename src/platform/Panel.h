#pragma once

#include <functional>
#include <memory>

#include "base/Geometry.h"
#include "platform/Canvas.h"

namespace velvox {

// A small floating window for status feedback: it never takes the focus,
// lets clicks through to what lies below, stays above normal windows, shows
// on every workspace, has a transparent background and is drawn entirely by
// its draw handler.
class Panel {
  public:
    // Draws the whole content; bounds is (0, 0, content width, content height).
    using DrawHandler = std::function<void(Canvas& canvas, const Rect& bounds)>;

    virtual ~Panel() = default;

    virtual Size contentSize() = 0;
    virtual void setContentSize(const Size& size) = 0;
    // Moves the panel's top left corner to the point, in desktop coordinates.
    virtual void setOrigin(const Point& topLeft) = 0;

    // The opacity the panel has now (mid-animation: the current value).
    virtual double alpha() = 0;
    virtual void setAlpha(double alpha) = 0;
    // Animates the opacity to the target, then calls completion on the main
    // thread (if given). A new animation replaces a running one; the replaced
    // one's completion still runs, with the opacity where it stopped.
    virtual void animateAlpha(double target, double seconds, std::function<void()> completion) = 0;

    // Shows the panel above other windows without activating the application.
    virtual void orderFront() = 0;
    virtual void orderOut() = 0;
    virtual bool isVisible() = 0;

    virtual void setDrawHandler(DrawHandler handler) = 0;
    // Asks for the draw handler to run soon (coalesced).
    virtual void setNeedsDisplay() = 0;
};

class Panels {
  public:
    virtual ~Panels() = default;
    // A new hidden panel of the given content size, or nullptr when the
    // desktop cannot make one.
    virtual std::shared_ptr<Panel> createPanel(const Size& size) = 0;
    // Whether panels show on the screen the user works on (in a Wayland
    // session: through the compositor's own layers, not through XWayland).
    virtual bool showOnScreenInFront() const { return false; }
};

namespace Platform {
Panels& panels();
void installPanels(std::shared_ptr<Panels> panels);
}  // namespace Platform

}  // namespace velvox

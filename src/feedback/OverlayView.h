#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Brand.h"
#include "feedback/OverlayState.h"
#include "platform/Canvas.h"

namespace velvox {

// Draws the pill: its dark capsule, the optional logo, and the meter, the
// label, the dots or the message, depending on the state.
class OverlayView {
  public:
    static constexpr size_t kLevelCount = 16;
    // The smallest level kept, so a silent microphone still shows a row of small bars.
    static constexpr double kMinimumLevel = 0.05;
    // How far the dots' pulse moves on each tick.
    static constexpr double kPhaseStep = 0.28;

    // The font of the label and the message.
    static Font textFont() { return {11.5, FontWeight::medium}; }
    // The label's width in that font, rounded up to a whole point.
    static double labelWidth(const std::string& text);

    OverlayState state = OverlayState::listening();
    Colour accent = Brand::plainAccent;
    // Oldest first, newest last.
    std::array<double, kLevelCount> levels;
    double phase = 0;
    std::shared_ptr<Image> logo;
    // Inside a translucent system surface that draws its own backdrop.
    bool onGlass = false;
    double logoSide = 20;
    double inset = 14;

    OverlayView();

    // One animation step: the dots move on, and when a level is given the
    // history scrolls by one with that level as the newest.
    void tick(std::optional<double> level);
    void draw(Canvas& canvas, const Rect& bounds) const;

    // Asks whoever shows the view to draw it again.
    void setNeedsDisplay() const {
        if (needsDisplay) needsDisplay();
    }
    std::function<void()> needsDisplay;

  private:
    void drawBars(Canvas& canvas, const Rect& bounds, const Rect& area) const;
    void drawDots(Canvas& canvas, const Rect& area) const;
    static void drawText(Canvas& canvas, const std::string& text, const Rect& area,
                         const Colour& colour);
};

}  // namespace velvox

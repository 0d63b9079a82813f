#include "feedback/OverlayPlacement.h"

#include <algorithm>
#include <cmath>

#include "feedback/Overlay.h"
#include "platform/Accessibility.h"

namespace velvox::OverlayPlacement {

namespace {

std::optional<Point> finite(std::optional<Point> point) {
    if (point && std::isfinite(point->x) && std::isfinite(point->y)) return point;
    return std::nullopt;
}

// Desktop coordinates are shared by screens and accessibility positions, so
// no flipping is needed: the first screen whose frame holds the point.
std::optional<Screen> screenFor(std::optional<Point> point, const std::vector<Screen>& screens) {
    if (!point) return std::nullopt;
    for (const auto& screen : screens) {
        if (screen.frame.contains(*point)) return screen;
    }
    return std::nullopt;
}

std::optional<Screen> screenOfFocus(const std::vector<Screen>& screens) {
    auto& accessibility = Platform::accessibility();
    if (!accessibility.isProcessTrusted()) return std::nullopt;
    auto element = accessibility.focusedElement(Overlay::kFocusTimeoutSeconds);
    if (!element) return std::nullopt;
    element->setMessagingTimeout(Overlay::kFocusTimeoutSeconds);
    if (auto screen = screenFor(finite(element->position()), screens)) return screen;
    return screenFor(finite(element->windowPosition()), screens);
}

}  // namespace

std::optional<Screen> chooseScreen() {
    auto& desktop = Platform::screens();
    auto screens = desktop.screens();
    // One screen leaves nothing to choose: the focus is not worth asking
    // another application for at every key-down.
    if (screens.size() == 1) return screens.front();
    if (auto screen = screenOfFocus(screens)) return screen;
    if (auto screen = screenFor(desktop.mouseLocation(), screens)) return screen;
    if (auto screen = desktop.mainScreen()) return screen;
    if (!screens.empty()) return screens.front();
    return std::nullopt;
}

Point pillOrigin(const Rect& visibleFrame, const Size& pillSize) {
    const double margin = Overlay::kScreenMargin;
    double x = visibleFrame.midX() - pillSize.width / 2;
    x = std::max(x, visibleFrame.minX() + margin);
    x = std::min(x, visibleFrame.maxX() - pillSize.width - margin);
    // Measured from the bottom edge, so that the same rule holds whatever the
    // direction of the y axis.
    double lift = Overlay::kBottomLift;
    lift = std::max(lift, margin);
    lift = std::min(lift, visibleFrame.height - pillSize.height - margin);
    return {x, visibleFrame.maxY() - lift - pillSize.height};
}

}  // namespace velvox::OverlayPlacement

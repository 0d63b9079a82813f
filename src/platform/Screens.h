#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "base/Handle.h"

namespace velvox {

// One monitor, in desktop coordinates.
struct Screen {
    Rect frame;
    // The frame without panels and docks (the work area).
    Rect visibleFrame;
};

class Screens {
  public:
    virtual ~Screens() = default;
    // Every monitor, the primary one first.
    virtual std::vector<Screen> screens() = 0;
    // The monitor of the window that has the keyboard focus, if known.
    virtual std::optional<Screen> mainScreen() = 0;
    virtual Point mouseLocation() = 0;
    // Calls back on the main thread whenever monitors are added, removed,
    // moved or resized, until the handle goes.
    [[nodiscard]] virtual Handle observeChanges(std::function<void()> changed) = 0;
};

namespace Platform {
Screens& screens();
void installScreens(std::shared_ptr<Screens> screens);
}  // namespace Platform

}  // namespace velvox

#pragma once

#include <optional>

#include "base/Geometry.h"
#include "platform/Screens.h"

namespace velvox::OverlayPlacement {

// The screen the user works on, first match wins: the one holding the
// focused element (or its window), the one under the mouse pointer, the one
// with the focused window, the first one. Nothing when there are no screens.
std::optional<Screen> chooseScreen();

// The pill's top left corner, unrounded: centred at the bottom of the work
// area, lifted a little, and kept inside it with a small margin.
Point pillOrigin(const Rect& visibleFrame, const Size& pillSize);

}  // namespace velvox::OverlayPlacement

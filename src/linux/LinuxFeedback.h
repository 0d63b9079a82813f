#pragma once

#include <memory>

namespace velvox {

class CairoGraphics;

// Installs the graphics that measure the pill's text and load the logo, and
// the monitors, and answers the graphics. Main thread, once, after GTK is
// initialised; the monitors without a display keep the registry's default.
std::shared_ptr<CairoGraphics> installLinuxGraphics();

// Installs the pill's floating panels as GTK popups drawn with `graphics`'
// text; nothing without a display.
void installGtkPanels(const std::shared_ptr<CairoGraphics>& graphics);

// Both, as on an X11 desktop.
void installLinuxFeedback();

}  // namespace velvox

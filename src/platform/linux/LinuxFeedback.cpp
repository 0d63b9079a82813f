#include "platform/linux/LinuxFeedback.h"

#include <gdk/gdk.h>

#include "platform/Canvas.h"
#include "platform/Panel.h"
#include "platform/Screens.h"
#include "platform/linux/CairoCanvas.h"
#include "platform/linux/GdkScreens.h"
#include "platform/linux/GtkPanel.h"

namespace velvox {

void installLinuxFeedback() {
    // Measuring works without a display (fonts only); the desktop's font
    // family is read once here, so sizes and drawings use the same one.
    auto graphics = std::make_shared<CairoGraphics>();
    Platform::installGraphics(graphics);
    if (!gdk_display_get_default()) return;
    Platform::installPanels(std::make_shared<GtkPanels>(graphics->text()));
    if (auto screens = GdkScreens::create()) Platform::installScreens(screens);
}

}  // namespace velvox

#include "linux/LinuxFeedback.h"

#include <gdk/gdk.h>

#include "linux/draw/CairoCanvas.h"
#include "linux/gtk/GdkScreens.h"
#include "linux/gtk/GtkPanel.h"
#include "platform/Canvas.h"
#include "platform/Panel.h"
#include "platform/Screens.h"

namespace velvox {

std::shared_ptr<CairoGraphics> installLinuxGraphics() {
    // Measuring works without a display (fonts only); the desktop's font
    // family is read once here, so sizes and drawings use the same one.
    auto graphics = std::make_shared<CairoGraphics>();
    Platform::installGraphics(graphics);
    if (!gdk_display_get_default()) return graphics;
    if (auto screens = GdkScreens::create()) Platform::installScreens(screens);
    return graphics;
}

void installGtkPanels(const std::shared_ptr<CairoGraphics>& graphics) {
    if (gdk_display_get_default())
        Platform::installPanels(std::make_shared<GtkPanels>(graphics->text()));
}

void installLinuxFeedback() {
    installGtkPanels(installLinuxGraphics());
}

}  // namespace velvox

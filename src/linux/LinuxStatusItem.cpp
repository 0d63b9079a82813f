#include "linux/LinuxStatusItem.h"

#include <gdk/gdk.h>

#include <memory>

#include "base/Log.h"
#include "linux/gtk/AyatanaStatusItem.h"
#include "platform/StatusItem.h"

namespace velvox {

void installLinuxStatusItem() {
    // The menu is a GTK widget tree; without a display GTK was not initialised.
    if (!gdk_display_get_default()) {
        Log::write("tray: no display, no tray icon");
        return;
    }
    Platform::installStatusItem(std::make_shared<AyatanaStatusItem>());
}

}  // namespace velvox

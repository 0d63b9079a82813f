#include "linux/LinuxSession.h"

#include "linux/LinuxCapture.h"
#include "linux/LinuxDelivery.h"
#include "linux/LinuxFeedback.h"
#include "linux/LinuxHome.h"
#include "linux/LinuxStatusItem.h"
#include "linux/gtk/LinuxDesktop.h"
#include "linux/wayland/WaylandConnection.h"
#include "linux/wayland/WaylandKeyEventSource.h"
#include "linux/x11/X11KeyEventSource.h"
#include "platform/Desktop.h"
#include "platform/Platform.h"

namespace velvox {

LinuxSession LinuxSession::start() {
    LinuxSession session;
    // Key codes by physical position are the same whoever reports them: the
    // X11 key table serves every session.
    auto x11Keys = std::make_shared<X11KeyEventSource>();
    if (LinuxDesktop::sessionFromEnvironment() == DisplaySession::wayland) {
        session.connection_ = WaylandConnection::open();
        session.display_ = session.connection_ ? Display::wayland : Display::xwaylandOnly;
    }
    if (session.display_ == Display::wayland) {
        // No global keys: the desktop's shortcuts run `velvox dictate`.
        session.waylandKeys_ = std::make_shared<WaylandKeyEventSource>(x11Keys);
        Platform::installKeyEventSource(session.waylandKeys_);
    } else {
        Platform::installKeyEventSource(x11Keys);
    }
    return session;
}

void LinuxSession::installApplicationServices(DesktopShortcutHooks shortcuts) {
    installLinuxCapture();
    installLinuxStatusItem();
    installLinuxHome();
    auto accessibility = installLinuxAccessibility();
    auto graphics = installLinuxGraphics();
    switch (display_) {
        case Display::x11:
            installX11Delivery(accessibility);
            installGtkPanels(graphics);
            break;
        case Display::xwaylandOnly:
            installXWaylandDelivery(accessibility, graphics);
            break;
        case Display::wayland:
            installWaylandDelivery(connection_, accessibility, graphics, shortcuts.offerChanged);
            askForDesktopShortcuts(waylandKeys_, std::move(shortcuts));
            break;
    }
}

}  // namespace velvox

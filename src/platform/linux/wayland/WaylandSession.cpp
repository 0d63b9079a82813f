#include "platform/linux/wayland/WaylandSession.h"

#include <wayland-client.h>

#include <memory>

#include "feedback/Brand.h"
#include "platform/Accessibility.h"
#include "platform/Desktop.h"
#include "platform/KeyEventSource.h"
#include "platform/PasteKeystroke.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11KeyEventSource.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XTestPaste.h"
#include "platform/linux/wayland/AccessibleWorkspace.h"
#include "platform/linux/wayland/WaylandKeyEventSource.h"
#include "platform/linux/wayland/XWaylandPaste.h"

namespace velvox {

namespace {

// A session can say Wayland while its display is gone (a stale variable in a
// terminal); then XWayland, or a plain X server, is all there is.
bool compositorAnswers() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return false;
    bool answered = wl_display_roundtrip(display) >= 0;
    wl_display_disconnect(display);
    return answered;
}

}  // namespace

bool installWaylandPieces() {
    if (Platform::desktop().displaySession() != DisplaySession::wayland || !compositorAnswers())
        return false;
    // The X11 key table stays: key codes by physical position are the same
    // whoever reports them.
    Platform::installKeyEventSource(
        std::make_shared<WaylandKeyEventSource>(std::make_shared<X11KeyEventSource>()));
    std::shared_ptr<Workspace> x11 = X11Workspace::create(Brand::bundleID);
    Platform::installWorkspace(std::make_shared<AccessibleWorkspace>(x11));
    auto paste = XTestPaste::create([] {
        auto* accessibility = dynamic_cast<AtspiAccessibility*>(&Platform::accessibility());
        return accessibility && accessibility->focusIsTerminal();
    });
    if (paste) Platform::installPasteKeystroke(std::make_shared<XWaylandPaste>(paste, x11));
    return true;
}

}  // namespace velvox

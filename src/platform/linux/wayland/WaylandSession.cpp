#include "platform/linux/wayland/WaylandSession.h"

#include <wayland-client.h>

#include <memory>

#include "base/Brand.h"
#include "base/Log.h"
#include "platform/Accessibility.h"
#include "platform/Desktop.h"
#include "platform/KeyEventSource.h"
#include "platform/PasteKeystroke.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/wayland/AccessibleWorkspace.h"
#include "platform/linux/wayland/PortalShortcuts.h"
#include "platform/linux/wayland/WaylandKeyEventSource.h"
#include "platform/linux/wayland/XWaylandPaste.h"
#include "platform/linux/x11/X11KeyEventSource.h"
#include "platform/linux/x11/X11Workspace.h"
#include "platform/linux/x11/XTestPaste.h"

namespace velvox {

namespace {

// A session can say Wayland while its display is gone (a stale variable in a
// terminal); then XWayland, or a plain X server, is all there is.
constexpr const char* kDictate = "dictate";
constexpr const char* kBoost = "boost";

bool compositorAnswers() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return false;
    bool answered = wl_display_roundtrip(display) >= 0;
    wl_display_disconnect(display);
    return answered;
}

// Asks the desktop for the two hotkeys. The session lives as long as the
// process; the desktop ends it when our connection goes.
void askForShortcuts(std::function<void(DictationCommand, bool)> dictate,
                     std::shared_ptr<WaylandKeyEventSource> keys,
                     std::function<void()> keysAssigned) {
    auto changed = [dictate](const std::string& id, bool pressed) {
        dictate(pressed ? DictationCommand::start : DictationCommand::stop, id == kBoost);
    };
    auto ready = [keys, keysAssigned](std::optional<std::vector<PortalShortcuts::Bound>> bound) {
        if (!bound) {
            Log::write(
                "no global shortcuts from the desktop: bind velvox dictate to its own "
                "shortcuts");
            return;
        }
        std::string line;
        DesktopShortcutKeys assigned;
        for (const auto& shortcut : *bound) {
            line += (line.empty() ? "" : ", ") + shortcut.id + " " +
                    (shortcut.trigger.empty() ? "(no key yet)" : shortcut.trigger);
            (shortcut.id == kBoost ? assigned.boost : assigned.dictation) = shortcut.trigger;
        }
        Log::write("global shortcuts from the desktop: " + line);
        keys->setDesktopShortcutKeys(std::move(assigned));
        if (keysAssigned) keysAssigned();
    };
    new PortalShortcuts({{kDictate, "Dictate while held"}, {kBoost, "Smart dictation while held"}},
                        ready, changed);
}

}  // namespace

bool installWaylandPieces(std::function<void(DictationCommand, bool)> dictate,
                          std::function<void()> keysAssigned) {
    if (Platform::desktop().displaySession() != DisplaySession::wayland || !compositorAnswers())
        return false;
    // The X11 key table stays: key codes by physical position are the same
    // whoever reports them.
    auto keys = std::make_shared<WaylandKeyEventSource>(std::make_shared<X11KeyEventSource>());
    Platform::installKeyEventSource(keys);
    std::shared_ptr<Workspace> x11 = X11Workspace::create(Brand::bundleID);
    Platform::installWorkspace(std::make_shared<AccessibleWorkspace>(x11));
    auto paste = XTestPaste::create([] {
        auto* accessibility = dynamic_cast<AtspiAccessibility*>(&Platform::accessibility());
        return accessibility && accessibility->focusIsTerminal();
    });
    if (paste) Platform::installPasteKeystroke(std::make_shared<XWaylandPaste>(paste, x11));
    askForShortcuts(std::move(dictate), keys, std::move(keysAssigned));
    return true;
}

}  // namespace velvox

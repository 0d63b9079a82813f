#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velvox {

class AtspiAccessibility;
class CairoGraphics;
class WaylandConnection;
class WaylandKeyEventSource;
class Workspace;

// The hotkeys as the desktop's shortcuts portal serves them.
struct DesktopShortcutHooks {
    // A shortcut was pressed (true) or released; `boost` for the second one.
    std::function<void(bool pressed, bool boost)> changed;
    // The keys to ask the desktop for, in its shortcut notation (for example
    // "F5" or "d"); empty leaves the choice to the desktop. Asked at start and
    // again whenever the user chooses other hotkeys.
    struct Triggers {
        std::string dictation;
        std::string boost;
    };
    std::function<Triggers()> wished;
    // Once the desktop said which keys they are.
    std::function<void()> keysAssigned;
    // Whenever a portal's answer changed what the session offers (shortcuts,
    // the paste keys).
    std::function<void()> offerChanged;
};

// Delivery in a Wayland session whose compositor answers: the frontmost
// application from the accessibility tree (XWayland's windows from `x11`),
// the clipboard and the paste keystroke through the compositor where it lets
// us, else through XWayland and the desktop's remote desktop portal; the pill
// on the compositor's overlay layer where it has one, else as GTK popups.
// Installs each of those slots once.
void installWaylandDelivery(const std::shared_ptr<WaylandConnection>& connection,
                            const std::shared_ptr<AtspiAccessibility>& accessibility,
                            const std::shared_ptr<CairoGraphics>& graphics,
                            std::function<void()> offerChanged);

// A Wayland session whose display cannot be reached (a stale variable in a
// terminal): everything goes through XWayland, whose synthetic keys reach its
// own windows only.
void installXWaylandDelivery(const std::shared_ptr<AtspiAccessibility>& accessibility,
                             const std::shared_ptr<CairoGraphics>& graphics);

// Asks the desktop for the two hotkeys through its GlobalShortcuts portal,
// where it offers one; `keys` learns what the desktop assigned.
void askForDesktopShortcuts(const std::shared_ptr<WaylandKeyEventSource>& keys,
                            DesktopShortcutHooks hooks);

}  // namespace velvox

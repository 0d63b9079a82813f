#include "linux/WaylandSession.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "base/Brand.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "linux/LinuxDelivery.h"
#include "linux/LinuxFeedback.h"
#include "linux/atspi/AccessibleWorkspace.h"
#include "linux/atspi/AtspiAccessibility.h"
#include "linux/draw/CairoCanvas.h"
#include "linux/glib/DesktopFiles.h"
#include "linux/wayland/DataControlClipboard.h"
#include "linux/wayland/LayerShellPanel.h"
#include "linux/wayland/PortalShortcuts.h"
#include "linux/wayland/RemoteDesktopPaste.h"
#include "linux/wayland/VirtualKeyboardPaste.h"
#include "linux/wayland/WaylandConnection.h"
#include "linux/wayland/WaylandKeyEventSource.h"
#include "linux/wayland/XWaylandPaste.h"
#include "linux/x11/X11Clipboard.h"
#include "linux/x11/X11Workspace.h"
#include "linux/x11/XTestPaste.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

namespace velvox {

namespace {

constexpr const char* kDictate = "dictate";
constexpr const char* kBoost = "boost";

// Whether the focused window is a terminal emulator's, which pastes with
// Control+Shift+V.
std::function<bool()> terminalInFront(const std::shared_ptr<AtspiAccessibility>& accessibility) {
    std::weak_ptr<AtspiAccessibility> weakAccessibility = accessibility;
    return [weakAccessibility] {
        auto accessibility = weakAccessibility.lock();
        if (accessibility && accessibility->focusIsTerminal()) return true;
        auto front = Platform::workspace().frontmostApplication();
        if (!front) return false;
        for (std::string name :
             {front->bundleIdentifier, front->name, executableName(front->processId)}) {
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (XTestPaste::isTerminalName(name)) return true;
        }
        return false;
    };
}

// Where the compositor has no virtual keyboard (GNOME, KDE Plasma), the
// desktop's remote desktop portal may type the paste keys into native
// windows once the user agrees, asked when a paste first needs it.
std::shared_ptr<RemoteDesktopPaste> remoteKeyboard(std::function<bool()> focusIsTerminal,
                                                   std::function<void()> offerChanged) {
    return std::make_shared<RemoteDesktopPaste>(
        Paths::dir() + "/remote-desktop-token", std::move(focusIsTerminal),
        [offerChanged](bool agreed) {
            Log::write(agreed ? "Wayland paste keys: through the desktop's remote desktop portal"
                              : "no keyboard from the desktop's remote desktop portal: paste "
                                "reaches X11 apps only");
            if (offerChanged) offerChanged();
        });
}

}  // namespace

// The clipboard and the paste keystroke through the compositor where it lets
// us; elsewhere the X11 clipboard (which XWayland shares with Wayland
// programs), and a keystroke through XWayland for X11 windows and the
// desktop's portal for native ones.
void installWaylandDelivery(const std::shared_ptr<WaylandConnection>& connection,
                            const std::shared_ptr<AtspiAccessibility>& accessibility,
                            const std::shared_ptr<CairoGraphics>& graphics,
                            std::function<void()> offerChanged) {
    std::shared_ptr<Workspace> x11 = X11Workspace::create(Brand::bundleID);
    Platform::installWorkspace(std::make_shared<AccessibleWorkspace>(x11));

    std::shared_ptr<Pasteboard> clipboard = DataControlClipboard::create(connection);
    bool throughCompositor = clipboard != nullptr;
    if (!clipboard) clipboard = X11Clipboard::create();
    if (clipboard) Platform::installPasteboard(clipboard);

    auto focusIsTerminal = terminalInFront(accessibility);
    auto x11Paste = XTestPaste::create(focusIsTerminal);
    // An X11 window in front is asked as on X11 (xterm has no paste key);
    // a native one always has one.
    auto pastesClipboard = [x11Paste, x11] {
        return !x11Paste || !x11 || !x11->frontmostApplication() ||
               x11Paste->focusPastesClipboard();
    };
    auto keyboard = VirtualKeyboardPaste::create(connection, focusIsTerminal, pastesClipboard);
    if (keyboard) {
        Platform::installPasteKeystroke(keyboard);
    } else {
        Platform::installPasteKeystroke(std::make_shared<XWaylandPaste>(
            x11Paste, x11, remoteKeyboard(focusIsTerminal, std::move(offerChanged))));
    }
    Log::write(std::string("Wayland delivery: clipboard ") +
               (throughCompositor ? "through the compositor" : "through XWayland") +
               ", paste keys " +
               (keyboard ? "through a virtual keyboard"
                         : "to X11 apps, and to native ones through the desktop's remote "
                           "desktop portal once allowed"));

    // The pill on the compositor's overlay layer where it has one.
    if (connection->layerShell() && connection->compositor() && connection->shm()) {
        Platform::installPanels(std::make_shared<LayerShellPanels>(connection, graphics->text()));
        Log::write("Wayland pill: on the compositor's overlay layer");
    } else {
        installGtkPanels(graphics);
    }
}

void installXWaylandDelivery(const std::shared_ptr<AtspiAccessibility>& accessibility,
                             const std::shared_ptr<CairoGraphics>& graphics) {
    std::shared_ptr<Workspace> x11 = installX11WorkspaceAndClipboard();
    // With a native window in front the text stays on the clipboard, rather
    // than a paste being reported that nothing received.
    if (auto paste = XTestPaste::create(terminalInFront(accessibility))) {
        Platform::installPasteKeystroke(std::make_shared<XWaylandPaste>(paste, x11));
    }
    installGtkPanels(graphics);
}

// Asks the desktop for the two hotkeys, and again with the user's keys when
// they choose others in Settings. The session lives as long as the
// process; the desktop ends it when our connection goes.
void askForDesktopShortcuts(const std::shared_ptr<WaylandKeyEventSource>& keys,
                            DesktopShortcutHooks hooks) {
    auto changed = [changed = hooks.changed](const std::string& id, bool pressed) {
        if (changed) changed(pressed, id == kBoost);
    };
    auto ready = [keys, keysAssigned = hooks.keysAssigned, offerChanged = hooks.offerChanged](
                     std::optional<std::vector<PortalShortcuts::Bound>> bound) {
        if (!bound || bound->empty()) {
            Log::write(
                "no global shortcuts from the desktop: bind velvox dictate to its own "
                "shortcuts");
            keys->setDesktopShortcutKeys({});
            if (offerChanged) offerChanged();
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
        if (offerChanged) offerChanged();
    };
    keys->setDesktopShortcutKeys({.pending = true});
    // The user's keys are asked for from the start: a desktop that registers
    // shortcuts only with the session (KDE Plasma 5.27) takes no later wish.
    auto wished = hooks.wished ? hooks.wished() : DesktopShortcutHooks::Triggers{};
    auto* portal = new PortalShortcuts({{kDictate, "Dictate while held", wished.dictation},
                                        {kBoost, "Smart dictation while held", wished.boost}},
                                       ready, changed);
    keys->onHotkeysChanged([portal, wish = hooks.wished] {
        auto wished = wish ? wish() : DesktopShortcutHooks::Triggers{};
        portal->rebind({wished.dictation, wished.boost});
    });
}

}  // namespace velvox

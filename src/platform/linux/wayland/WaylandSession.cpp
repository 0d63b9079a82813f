#include "platform/linux/wayland/WaylandSession.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "base/Brand.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "capture/KeyNames.h"
#include "config/Config.h"
#include "platform/Accessibility.h"
#include "platform/Desktop.h"
#include "platform/KeyEventSource.h"
#include "platform/MainQueue.h"
#include "platform/PasteKeystroke.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/CairoCanvas.h"
#include "platform/linux/wayland/AccessibleWorkspace.h"
#include "platform/linux/wayland/DataControlClipboard.h"
#include "platform/linux/wayland/LayerShellPanel.h"
#include "platform/linux/wayland/PortalShortcuts.h"
#include "platform/linux/wayland/RemoteDesktopPaste.h"
#include "platform/linux/wayland/VirtualKeyboardPaste.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "platform/linux/wayland/WaylandKeyEventSource.h"
#include "platform/linux/wayland/XWaylandPaste.h"
#include "platform/linux/x11/X11KeyEventSource.h"
#include "platform/linux/x11/X11Workspace.h"
#include "platform/linux/x11/X11WorkspaceProperties.h"
#include "platform/linux/x11/XTestPaste.h"

namespace velvox {

namespace {

constexpr const char* kDictate = "dictate";
constexpr const char* kBoost = "boost";

// Whether the focused window is a terminal emulator's, which pastes with
// Control+Shift+V.
bool terminalInFront() {
    auto* accessibility = dynamic_cast<AtspiAccessibility*>(&Platform::accessibility());
    if (accessibility && accessibility->focusIsTerminal()) return true;
    auto front = Platform::workspace().frontmostApplication();
    if (!front) return false;
    for (std::string name :
         {front->bundleIdentifier, front->name, x11::executableName(front->processId)}) {
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (XTestPaste::isTerminalName(name)) return true;
    }
    return false;
}

// Where the compositor has no virtual keyboard (GNOME, KDE Plasma), the
// desktop's remote desktop portal may type the paste keys into native
// windows once the user agrees, asked when a paste first needs it.
std::shared_ptr<RemoteDesktopPaste> remoteKeyboard(std::function<void()> offerChanged) {
    return std::make_shared<RemoteDesktopPaste>(
        Paths::dir() + "/remote-desktop-token", terminalInFront, [offerChanged](bool agreed) {
            Log::write(agreed ? "Wayland paste keys: through the desktop's remote desktop portal"
                              : "no keyboard from the desktop's remote desktop portal: paste "
                                "reaches X11 apps only");
            if (offerChanged) offerChanged();
        });
}

// The clipboard and the paste keystroke through the compositor where it lets
// us; elsewhere the X11 clipboard (which XWayland shares with Wayland
// programs), and a keystroke through XWayland for X11 windows and the
// desktop's portal for native ones.
void installDelivery(const std::shared_ptr<WaylandConnection>& connection,
                     const std::shared_ptr<Workspace>& x11, std::function<void()> offerChanged) {
    auto clipboard = DataControlClipboard::create(connection);
    if (clipboard) Platform::installPasteboard(clipboard);
    auto focusIsTerminal = terminalInFront;
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
        Platform::installPasteKeystroke(
            std::make_shared<XWaylandPaste>(x11Paste, x11, remoteKeyboard(offerChanged)));
    }
    Log::write(std::string("Wayland delivery: clipboard ") +
               (clipboard ? "through the compositor" : "through XWayland") + ", paste keys " +
               (keyboard ? "through a virtual keyboard"
                         : "to X11 apps, and to native ones through the desktop's remote "
                           "desktop portal once allowed"));
}

// A hotkey in the desktop's shortcut notation: function keys, letters and
// digits by their key names; nothing for the rest (a lone modifier cannot be
// a desktop shortcut), which leaves the choice to the desktop.
std::string preferredTrigger(int64_t keyCode) {
    std::string name = KeyNames::name(keyCode);
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        return std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(name[0]))));
    bool functionKey =
        name.size() > 1 && name[0] == 'F' && std::all_of(name.begin() + 1, name.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        });
    return functionKey ? name : "";
}

// Asks the desktop for the two hotkeys, and again with the user's keys when
// they choose others in Settings. The session lives as long as the
// process; the desktop ends it when our connection goes.
void askForShortcuts(std::function<void(DictationCommand, bool)> dictate,
                     std::shared_ptr<WaylandKeyEventSource> keys,
                     std::function<void()> keysAssigned, std::function<void()> offerChanged) {
    auto changed = [dictate](const std::string& id, bool pressed) {
        dictate(pressed ? DictationCommand::start : DictationCommand::stop, id == kBoost);
    };
    auto ready = [keys, keysAssigned,
                  offerChanged](std::optional<std::vector<PortalShortcuts::Bound>> bound) {
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
    Config config = Config::load();
    auto* portal = new PortalShortcuts(
        {{kDictate, "Dictate while held", preferredTrigger(config.hotkeyKeyCode)},
         {kBoost, "Smart dictation while held", preferredTrigger(config.boostHotkeyKeyCode)}},
        ready, changed);
    keys->onHotkeysChanged([portal] {
        Config config = Config::load();
        portal->rebind(
            {preferredTrigger(config.hotkeyKeyCode), preferredTrigger(config.boostHotkeyKeyCode)});
    });
}

}  // namespace

bool installWaylandPieces(std::function<void(DictationCommand, bool)> dictate,
                          std::function<void()> keysAssigned, std::function<void()> offerChanged) {
    if (Platform::desktop().displaySession() != DisplaySession::wayland) return false;
    // A session can say Wayland while its display is gone (a stale variable
    // in a terminal); then XWayland, or a plain X server, is all there is.
    auto connection = WaylandConnection::open();
    if (!connection) {
        // XWayland's synthetic keys reach its own windows only: with a native
        // window in front the text stays on the clipboard, rather than a
        // paste being reported that nothing received.
        auto paste = XTestPaste::create(terminalInFront);
        if (paste) {
            Platform::installPasteKeystroke(
                std::make_shared<XWaylandPaste>(paste, X11Workspace::create(Brand::bundleID)));
        }
        return false;
    }
    // The X11 key table stays: key codes by physical position are the same
    // whoever reports them.
    auto keys = std::make_shared<WaylandKeyEventSource>(std::make_shared<X11KeyEventSource>());
    Platform::installKeyEventSource(keys);
    std::shared_ptr<Workspace> x11 = X11Workspace::create(Brand::bundleID);
    Platform::installWorkspace(std::make_shared<AccessibleWorkspace>(x11));
    installDelivery(connection, x11, offerChanged);
    // The pill on the compositor's overlay layer where it has one.
    auto* graphics = dynamic_cast<CairoGraphics*>(&Platform::graphics());
    if (graphics && connection->layerShell() && connection->compositor() && connection->shm()) {
        Platform::installPanels(std::make_shared<LayerShellPanels>(connection, graphics->text()));
        Log::write("Wayland pill: on the compositor's overlay layer");
    }
    askForShortcuts(std::move(dictate), keys, std::move(keysAssigned), std::move(offerChanged));
    return true;
}

}  // namespace velvox

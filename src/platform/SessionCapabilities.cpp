#include "platform/SessionCapabilities.h"

#include "platform/Accessibility.h"
#include "platform/Desktop.h"
#include "platform/KeyEventSource.h"
#include "platform/Panel.h"
#include "platform/PasteKeystroke.h"

namespace velvox {

std::vector<SessionCapability> sessionCapabilities() {
    if (Platform::desktop().displaySession() != DisplaySession::wayland) return {};
    KeyEventSource& keys = Platform::keyEventSource();
    // Keys seen through XWayland mean the compositor could not be reached:
    // everything then reaches X11 apps only.
    bool throughXWayland = keys.seesGlobalKeys();
    std::vector<SessionCapability> list;

    DesktopShortcutKeys desktopKeys = keys.desktopShortcutKeys();
    const std::string& assigned = desktopKeys.dictation;
    if (desktopKeys.pending) {
        // Nothing said until the desktop has answered: the line would be wrong.
    } else if (throughXWayland) {
        list.push_back({"Global shortcuts", false,
                        "your hotkeys work only while an X11 app is in front; bind \"velvox "
                        "dictate toggle\" to a key in your desktop's keyboard shortcuts"});
    } else if (!assigned.empty()) {
        list.push_back({"Global shortcuts", true, "from the desktop: " + assigned});
    } else {
        list.push_back({"Global shortcuts", false,
                        "this desktop offers none to apps: bind \"velvox dictate toggle\" to a "
                        "key in its keyboard shortcuts"});
    }

    // Whether the switch is on, not only whether the bus answers: desktops
    // ship with it off.
    if (Platform::accessibility().isProcessTrusted()) {
        list.push_back({"Typing into fields", true, "into apps with accessibility support"});
    } else {
        list.push_back({"Typing into fields", false,
                        "switch on your desktop's accessibility support to have text typed "
                        "into fields; until then Velvox pastes"});
    }

    PasteKeystroke& keystroke = Platform::pasteKeystroke();
    if (!throughXWayland && keystroke.reachesNativeWindows()) {
        std::string note = keystroke.note();
        list.push_back(
            {"Paste", true,
             "into every app, and your clipboard comes back" + (note.empty() ? "" : "; " + note)});
    } else {
        list.push_back({"Paste", false,
                        "into X11 apps only; elsewhere the text stays on the clipboard for you "
                        "to paste with ctrl V (on sway, Hyprland and other wlroots desktops Velvox "
                        "pastes everywhere)"});
    }

    list.push_back({"Pill", true,
                    Platform::panels().showOnScreenInFront()
                        ? "above every window, on the screen you work on"
                        : "shown through XWayland, on the main screen"});
    return list;
}

}  // namespace velvox

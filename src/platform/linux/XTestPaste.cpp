#include "platform/linux/XTestPaste.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/linux/InjectedKeys.h"
#include "platform/linux/X11WorkspaceProperties.h"

namespace velvox {

namespace {

// Key codes by physical position (evdev code + 8), for keys the layout lacks.
constexpr KeyCode kPhysicalV = 55;
constexpr KeyCode kPhysicalLeftControl = 37;
constexpr KeyCode kPhysicalLeftShift = 50;

using KeyBits = std::bitset<256>;

KeyBits bitsOf(const char keys[32]) {
    KeyBits bits;
    for (int code = 0; code < 256; ++code) {
        if (keys[code / 8] & (1 << (code % 8))) bits.set(code);
    }
    return bits;
}

// The modifier keys of the keyboard map, without Caps Lock and Num Lock whose
// keys toggle a state rather than hold one.
std::vector<KeyCode> modifierKeys(Display* display) {
    std::vector<KeyCode> keys;
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map) return keys;
    for (int modifier = 0; modifier < 8; ++modifier) {
        if (modifier == LockMapIndex || modifier == Mod2MapIndex) continue;
        for (int i = 0; i < map->max_keypermod; ++i) {
            KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
            if (code && std::find(keys.begin(), keys.end(), code) == keys.end())
                keys.push_back(code);
        }
    }
    XFreeModifiermap(map);
    return keys;
}

// Keys held down on the real keyboards (not on the XTEST device we type
// with): after we release a modifier with XTEST, the core keyboard state
// forgets it, but the physical device's own state still shows it.
KeyBits physicallyHeld(Display* display) {
    KeyBits held;
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return held;
    x11::ErrorTrap trap(display);
    int count = 0;
    XDeviceInfo* devices = XListInputDevices(display, &count);
    for (int i = 0; devices && i < count; ++i) {
        if (devices[i].use != IsXExtensionKeyboard) continue;
        if (devices[i].name && std::strstr(devices[i].name, "XTEST")) continue;
        XDevice* device = XOpenDevice(display, devices[i].id);
        if (!device) continue;
        if (XDeviceState* state = XQueryDeviceState(display, device)) {
            auto* item = state->data;
            for (int c = 0; c < state->num_classes; ++c) {
                if (item->c_class == KeyClass) {
                    auto* keys = reinterpret_cast<XKeyState*>(item);
                    held |= bitsOf(keys->keys);
                }
                item = reinterpret_cast<XInputClass*>(reinterpret_cast<char*>(item) + item->length);
            }
            XFreeDeviceState(state);
        }
        XCloseDevice(display, device);
    }
    if (devices) XFreeDeviceList(devices);
    if (!trap.succeeded()) return KeyBits();
    return held;
}

// One synthetic key event, announced first so that our own key source does
// not take it for the user's.
void type(Display* display, KeyCode code, bool press) {
    InjectedKeys::expect(code, press);
    XTestFakeKeyEvent(display, code, press ? True : False, CurrentTime);
}

KeyCode keyFor(Display* display, KeySym symbol, KeyCode physical) {
    KeyCode code = XKeysymToKeycode(display, symbol);
    return code ? code : physical;
}

}  // namespace

std::shared_ptr<XTestPaste> XTestPaste::create(std::function<bool()> focusIsTerminal) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::make_shared<XTestPaste>(display, std::move(focusIsTerminal));
}

XTestPaste::XTestPaste(Display* display, std::function<bool()> focusIsTerminal)
    : display_(display), focusIsTerminal_(std::move(focusIsTerminal)) {}

XTestPaste::~XTestPaste() {
    XCloseDisplay(display_);
}

bool XTestPaste::isTerminalName(const std::string& name) {
    static const std::array<const char*, 40> terminals = {"xterm",
                                                          "uxterm",
                                                          "gnome-terminal",
                                                          "gnome-terminal-server",
                                                          "org.gnome.terminal",
                                                          "kgx",
                                                          "org.gnome.console",
                                                          "konsole",
                                                          "org.kde.konsole",
                                                          "xfce4-terminal",
                                                          "terminator",
                                                          "tilix",
                                                          "com.gexperts.tilix",
                                                          "alacritty",
                                                          "kitty",
                                                          "wezterm",
                                                          "wezterm-gui",
                                                          "org.wezfurlong.wezterm",
                                                          "foot",
                                                          "footclient",
                                                          "urxvt",
                                                          "rxvt",
                                                          "st",
                                                          "st-256color",
                                                          "lxterminal",
                                                          "mate-terminal",
                                                          "qterminal",
                                                          "terminology",
                                                          "sakura",
                                                          "guake",
                                                          "tilda",
                                                          "yakuake",
                                                          "cool-retro-term",
                                                          "deepin-terminal",
                                                          "io.elementary.terminal",
                                                          "ptyxis",
                                                          "org.gnome.ptyxis",
                                                          "ghostty",
                                                          "com.mitchellh.ghostty",
                                                          "blackbox"};
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find_if(terminals.begin(), terminals.end(),
                        [&](const char* terminal) { return lower == terminal; }) != terminals.end();
}

bool XTestPaste::focusedWindowIsTerminal() {
    if (auto window = x11::activeWindow(display_)) {
        if (auto windowClass = x11::windowClass(display_, *window)) {
            if (isTerminalName(windowClass->instance) || isTerminalName(windowClass->className)) {
                return true;
            }
        }
        if (auto process = x11::windowProcess(display_, *window)) {
            if (isTerminalName(x11::executableName(*process))) return true;
        }
    }
    return focusIsTerminal_ && focusIsTerminal_();
}

void XTestPaste::post() {
    bool terminal = focusedWindowIsTerminal();

    // Modifiers the user still holds would turn Control+V into another
    // shortcut: lift them for the keystroke.
    char keys[32];
    XQueryKeymap(display_, keys);
    KeyBits down = bitsOf(keys);
    std::vector<KeyCode> lifted;
    for (KeyCode code : modifierKeys(display_)) {
        if (down.test(code)) {
            type(display_, code, false);
            lifted.push_back(code);
        }
    }

    KeyCode control = keyFor(display_, XK_Control_L, kPhysicalLeftControl);
    KeyCode shift = keyFor(display_, XK_Shift_L, kPhysicalLeftShift);
    KeyCode v = keyFor(display_, XK_v, kPhysicalV);
    type(display_, control, true);
    if (terminal) type(display_, shift, true);
    type(display_, v, true);
    type(display_, v, false);
    if (terminal) type(display_, shift, false);
    type(display_, control, false);

    if (!lifted.empty()) {
        // Only what the user really still holds goes down again; pressing a
        // key released meanwhile would leave it stuck.
        XSync(display_, False);
        KeyBits held = physicallyHeld(display_);
        for (KeyCode code : lifted) {
            if (held.test(code)) type(display_, code, true);
        }
    }
    XSync(display_, False);
}

}  // namespace velvox

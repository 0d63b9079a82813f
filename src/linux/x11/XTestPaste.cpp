#include "linux/x11/XTestPaste.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <glib.h>

#include "base/Strings.h"
#include "linux/glib/DesktopFiles.h"
#include "linux/x11/InjectedKeys.h"
#include "linux/x11/X11WorkspaceProperties.h"
#include "linux/x11/XOwned.h"

namespace velvox {

namespace {

// Key codes by physical position (evdev code + 8), for keys the layout lacks.
constexpr KeyCode kPhysicalV = 55;
constexpr KeyCode kPhysicalLeftControl = 37;
constexpr KeyCode kPhysicalLeftShift = 50;
constexpr KeyCode kPhysicalLeftAlt = 64;

using KeyBits = std::bitset<256>;

KeyBits bitsOf(const char keys[32]) {
    KeyBits bits;
    for (int code = 0; code < 256; ++code) {
        if (keys[code / 8] & (1 << (code % 8))) bits.set(code);
    }
    return bits;
}

struct DeviceListDeleter {
    void operator()(XDeviceInfo* devices) const { XFreeDeviceList(devices); }
};
struct DeviceStateDeleter {
    void operator()(XDeviceState* state) const { XFreeDeviceState(state); }
};

// The modifier keys of the keyboard map, without Caps Lock and Num Lock whose
// keys toggle a state rather than hold one.
std::vector<KeyCode> modifierKeys(Display* display) {
    std::vector<KeyCode> keys;
    x11::XModifiers map(XGetModifierMapping(display));
    if (!map) return keys;
    for (int modifier = 0; modifier < 8; ++modifier) {
        if (modifier == LockMapIndex || modifier == Mod2MapIndex) continue;
        for (int i = 0; i < map->max_keypermod; ++i) {
            KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
            if (code && std::find(keys.begin(), keys.end(), code) == keys.end())
                keys.push_back(code);
        }
    }
    return keys;
}

// Keys held down on that device. The core state shows only their union with
// the user's keyboards.
KeyBits downOn(Display* display, XDevice* device) {
    KeyBits held;
    if (!device) return held;
    x11::ErrorTrap trap(display);
    if (std::unique_ptr<XDeviceState, DeviceStateDeleter> state{
            XQueryDeviceState(display, device)}) {
        auto* item = state->data;
        for (int c = 0; c < state->num_classes; ++c) {
            if (item->c_class == KeyClass) held |= bitsOf(reinterpret_cast<XKeyState*>(item)->keys);
            item = reinterpret_cast<XInputClass*>(reinterpret_cast<char*>(item) + item->length);
        }
    }
    if (!trap.succeeded()) return KeyBits();
    return held;
}

KeyCode keyFor(Display* display, KeySym symbol, KeyCode physical) {
    KeyCode code = XKeysymToKeycode(display, symbol);
    return code ? code : physical;
}

}  // namespace

std::shared_ptr<XTestPaste> XTestPaste::create(std::function<bool()> focusIsTerminal,
                                               Names activeNames) {
    auto connection = x11::Connection::open();
    if (!connection) return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(connection->display(), &event, &error, &major, &minor)) return nullptr;
    return std::make_shared<XTestPaste>(std::move(connection), std::move(focusIsTerminal),
                                        std::move(activeNames));
}

// The XTEST keyboard our events go through; nothing without XInput.
XTestPaste::OpenDevice XTestPaste::openOurDevice(Display* display) {
    OpenDevice device(nullptr, DeviceCloser{display});
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return device;
    x11::ErrorTrap trap(display);
    int count = 0;
    std::unique_ptr<XDeviceInfo, DeviceListDeleter> devices(XListInputDevices(display, &count));
    for (int i = 0; devices && i < count && !device; ++i) {
        const XDeviceInfo& info = devices.get()[i];
        if (info.use == IsXExtensionKeyboard && info.name &&
            std::strcmp(info.name, "Virtual core XTEST keyboard") == 0) {
            device.reset(XOpenDevice(display, info.id));
        }
    }
    if (!trap.succeeded()) device.reset();
    return device;
}

XTestPaste::XTestPaste(std::unique_ptr<x11::Connection> connection,
                       std::function<bool()> focusIsTerminal, Names activeNames)
    : connection_(std::move(connection)),
      display_(connection_->display()),
      focusIsTerminal_(std::move(focusIsTerminal)),
      activeNames_(std::move(activeNames)),
      ourDevice_(openOurDevice(display_)) {}

XTestPaste::~XTestPaste() {
    giveBackBorrowedKeys();
}

void XTestPaste::giveBackBorrowedKeys() {
    giveBack_.remove();
    KeySym none = NoSymbol;
    for (KeyCode code : borrowed_) XChangeKeyboardMapping(display_, code, 1, &none, 1);
    if (!borrowed_.empty()) XFlush(display_);
    borrowed_.clear();
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
    std::string lower = Strings::asciiLowercase(name);
    return std::find_if(terminals.begin(), terminals.end(),
                        [&](const char* terminal) { return lower == terminal; }) != terminals.end();
}

XTestPaste::PasteKey XTestPaste::pasteKeyForFocus(bool askAccessibility) {
    auto keyFor = [](const std::string& name) -> std::optional<PasteKey> {
        std::string lower = Strings::asciiLowercase(name);
        // xterm pastes only the primary selection by default.
        if (lower == "xterm" || lower == "uxterm") return PasteKey::none;
        if (lower == "urxvt" || lower == "rxvt" || lower == "rxvt-unicode")
            return PasteKey::controlAltV;
        if (isTerminalName(lower)) return PasteKey::controlShiftV;
        return std::nullopt;
    };
    std::vector<std::string> names;
    if (activeNames_) {
        names = activeNames_();
    } else if (auto window = x11::activeWindow(display_)) {
        names = x11::windowNames(display_, *window);
    }
    for (const auto& name : names)
        if (auto key = keyFor(name)) return *key;
    if (askAccessibility && focusIsTerminal_ && focusIsTerminal_()) return PasteKey::controlShiftV;
    return PasteKey::controlV;
}

bool XTestPaste::focusPastesClipboard() {
    // Only the window tells of a terminal without a paste key; the
    // accessibility role would only choose between keys.
    return pasteKeyForFocus(/*askAccessibility=*/false) != PasteKey::none;
}

// One synthetic key event, announced first so that our own key source does
// not take it for the user's.
void XTestPaste::strike(KeyCode code, bool press) {
    if (press) pressed_.set(code);
    InjectedKeys::expect(code, press);
    XTestFakeKeyEvent(display_, code, press ? True : False, CurrentTime);
}

void XTestPaste::liftModifiers() {
    // A modifier held on the user's keyboard is one the XTEST device never
    // pressed, and servers may drop its release there: pressing and
    // releasing it on that device lifts it from the combined state all the
    // same, and leaves nothing down there. It is never pressed again: the
    // user's keyboard state is theirs.
    char keys[32];
    XQueryKeymap(display_, keys);
    KeyBits down = bitsOf(keys);
    KeyBits ours = downOn(display_, ourDevice_.get());
    for (KeyCode code : modifierKeys(display_)) {
        if (!down.test(code)) continue;
        if (!ours.test(code)) strike(code, true);
        strike(code, false);
    }
}

void XTestPaste::releaseLeftovers() {
    XSync(display_, False);
    // Other programs type through the same device (xdotool, a remote
    // desktop, an on-screen keyboard): a key they hold, perhaps the very
    // hotkey of a take, stays down.
    KeyBits leftovers = downOn(display_, ourDevice_.get()) & pressed_;
    pressed_.reset();
    for (int code = 8; code < 256; ++code) {
        if (leftovers.test(code)) strike(static_cast<KeyCode>(code), false);
    }
    XSync(display_, False);
}

void XTestPaste::post(Sent sent) {
    PasteKey key = pasteKeyForFocus(/*askAccessibility=*/true);
    if (key == PasteKey::none) {
        if (sent) sent(false);
        return;
    }
    liftModifiers();

    KeyCode control = keyFor(display_, XK_Control_L, kPhysicalLeftControl);
    KeyCode second = key == PasteKey::controlShiftV
                         ? keyFor(display_, XK_Shift_L, kPhysicalLeftShift)
                     : key == PasteKey::controlAltV ? keyFor(display_, XK_Alt_L, kPhysicalLeftAlt)
                                                    : 0;
    KeyCode v = keyFor(display_, XK_v, kPhysicalV);
    strike(control, true);
    if (second) strike(second, true);
    strike(v, true);
    strike(v, false);
    if (second) strike(second, false);
    strike(control, false);
    releaseLeftovers();
    if (sent) sent(true);
}

bool XTestPaste::type(const std::string& text) {
    // Each character becomes its key, with Shift for the second level; a
    // character the layout lacks goes on a spare key code for the while.
    int minCode = 0, maxCode = 0;
    XDisplayKeycodes(display_, &minCode, &maxCode);
    int perCode = 0;
    x11::XFreed<KeySym> map(XGetKeyboardMapping(display_, static_cast<KeyCode>(minCode),
                                                maxCode - minCode + 1, &perCode));
    if (!map) return false;
    std::vector<KeyCode> spare;
    for (int code = maxCode; code >= minCode; --code) {
        bool empty = true;
        for (int level = 0; level < perCode; ++level)
            empty = empty && map.get()[(code - minCode) * perCode + level] == NoSymbol;
        if (empty) spare.push_back(static_cast<KeyCode>(code));
    }

    struct Stroke {
        KeyCode code;
        bool shift;
    };
    std::vector<Stroke> strokes;
    std::vector<std::pair<KeyCode, KeySym>> borrowed;
    for (const char* at = text.c_str(); *at; at = g_utf8_next_char(at)) {
        gunichar character = g_utf8_get_char(at);
        KeySym symbol = character == '\n'   ? XK_Return
                        : character == '\t' ? XK_Tab
                        : character < 0x100 ? character
                                            : 0x01000000 | character;
        KeyCode code = XKeysymToKeycode(display_, symbol);
        if (code && XkbKeycodeToKeysym(display_, code, 0, 0) == symbol) {
            strokes.push_back({code, false});
        } else if (code && XkbKeycodeToKeysym(display_, code, 0, 1) == symbol) {
            strokes.push_back({code, true});
        } else {
            auto found = std::find_if(borrowed.begin(), borrowed.end(),
                                      [&](const auto& entry) { return entry.second == symbol; });
            if (found == borrowed.end()) {
                if (borrowed.size() >= spare.size()) return false;
                borrowed.emplace_back(spare[borrowed.size()], symbol);
                found = borrowed.end() - 1;
            }
            strokes.push_back({found->first, false});
        }
    }
    // The same symbol on both levels: a lone letter would read as its lower case.
    for (auto [code, symbol] : borrowed) {
        KeySym levels[2] = {symbol, symbol};
        XChangeKeyboardMapping(display_, code, 2, levels, 1);
    }
    XSync(display_, False);

    liftModifiers();
    KeyCode shift = keyFor(display_, XK_Shift_L, kPhysicalLeftShift);
    for (const auto& stroke : strokes) {
        if (stroke.shift) strike(shift, true);
        strike(stroke.code, true);
        strike(stroke.code, false);
        if (stroke.shift) strike(shift, false);
    }
    releaseLeftovers();
    if (!borrowed.empty()) {
        // The window reads the keys after it has seen the new mapping; give
        // the spare keys back once it has had time to, or when we go first.
        for (auto [code, symbol] : borrowed)
            if (std::find(borrowed_.begin(), borrowed_.end(), code) == borrowed_.end())
                borrowed_.push_back(code);
        giveBack_ = g_timeout_add_seconds(
            1,
            [](gpointer self) -> gboolean {
                static_cast<XTestPaste*>(self)->giveBack_.forget();
                static_cast<XTestPaste*>(self)->giveBackBorrowedKeys();
                return G_SOURCE_REMOVE;
            },
            this);
    }
    return true;
}

}  // namespace velvox

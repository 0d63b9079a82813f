#include "linux/x11/X11KeyEventSource.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <glib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "base/Log.h"
#include "linux/glib/GlibIds.h"
#include "linux/x11/InjectedKeys.h"
#include "linux/x11/KeyCodeTable.h"
#include "linux/x11/X11Connection.h"
#include "platform/KeyTranslator.h"

namespace velvox {

namespace {

int64_t macKeyCodeFor(int keycode) {
    return KeyCodeTable::macKeyCodeForEvdev(keycode - KeyCodeTable::kX11KeycodeOffset);
}

struct DeviceInfoDeleter {
    void operator()(XIDeviceInfo* devices) const { XIFreeDeviceInfo(devices); }
};

// The slave keyboard that XTEST's synthetic key events come from.
int findXtestKeyboard(Display* display) {
    int count = 0;
    std::unique_ptr<XIDeviceInfo, DeviceInfoDeleter> devices(
        XIQueryDevice(display, XIAllDevices, &count));
    for (int i = 0; devices && i < count; ++i) {
        const XIDeviceInfo& device = devices.get()[i];
        if (device.use == XISlaveKeyboard && device.name && std::strstr(device.name, "XTEST"))
            return device.deviceid;
    }
    return -1;
}

}  // namespace

struct X11KeyEventSource::State {
    Handler handler;
    bool enabled = false;
    std::vector<int64_t> swallowedKeys;
    std::vector<int64_t> taken;  // swallowed keys another client holds
    bool captureMode = false;

    // The connection; all of this is reset when it closes.
    std::unique_ptr<x11::Connection> x11;
    Display* display = nullptr;    // x11's, while connected
    unsigned long connection = 0;  // counts connections, so a handler that restarts is noticed
    Window window = 0;
    int xiOpcode = 0;
    int xtestKeyboard = -1;  // the XTEST device that synthetic keys come from
    int xkbEventBase = 0;
    unsigned int numLockMask = Mod2Mask;
    std::vector<std::pair<int, unsigned int>> grabs;  // key code, modifiers
    bool keyboardGrabbed = false;
    bool ungrabWhenReleased = false;
    KeyTranslator keys;  // by X key code

    SourceId retryTimer;

    bool lost() const { return x11 && x11->lost(); }
    bool connect();
    void disconnect();
    void connectionLost();
    void dispatchEvents();
    void handle(XEvent& event);
    void pressed(int keycode, Time time);
    void released(int keycode, Time time);
    void deliver(const KeyEvent& event);

    // Grabs the keys; those another client holds go to `taken`.
    void grabKeys(const std::vector<int64_t>& keys);
    void grabKeys() { grabKeys(swallowedKeys); }
    bool grabKey(int64_t mac);
    void ungrabKeys();
    bool tryGrab(int keycode, unsigned int modifiers);
    void grabKeyboard();
    void ungrabKeyboard();
    void scheduleReconnect();
};

bool X11KeyEventSource::State::connect() {
    auto opened = x11::Connection::open();
    if (!opened) {
        Log::write("hotkeys: no X display to watch");
        return false;
    }
    int event = 0;
    int error = 0;
    int opcode = 0;
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(opened->display(), "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(opened->display(), &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 2)) {
        Log::write("hotkeys: the X server lacks XInput 2.2");
        return false;
    }
    // A lost server is told to the handler, and the source connects again.
    opened->surviveLoss();
    x11 = std::move(opened);
    display = x11->display();
    ++connection;
    xiOpcode = opcode;
    xtestKeyboard = findXtestKeyboard(display);

    int xkbMajor = XkbMajorVersion;
    int xkbMinor = XkbMinorVersion;
    if (XkbQueryExtension(display, nullptr, &xkbEventBase, nullptr, &xkbMajor, &xkbMinor)) {
        // Held keys then repeat as presses only, without a release in between.
        Bool supported = False;
        XkbSetDetectableAutoRepeat(display, True, &supported);
        XkbSelectEvents(display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                        XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
        if (unsigned int mask = XkbKeysymToModifiers(display, XK_Num_Lock)) numLockMask = mask;
    } else {
        xkbEventBase = -1;
    }

    Window root = DefaultRootWindow(display);
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, sizeof(bits), bits};
    XISelectEvents(display, root, &mask, 1);
    // A resource of this connection: it names the connection to the server.
    XSetWindowAttributes attributes{};
    window =
        XCreateWindow(display, root, -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, &attributes);

    x11->watch([this] { dispatchEvents(); });
    if (captureMode) grabKeyboard();
    XFlush(display);
    return true;
}

void X11KeyEventSource::State::disconnect() {
    if (!display) return;
    if (!lost()) {
        ungrabKeys();
        if (keyboardGrabbed) XUngrabKeyboard(display, CurrentTime);
        if (window) XDestroyWindow(display, window);
        XSync(display, False);
    }
    x11.reset();
    display = nullptr;
    window = 0;
    grabs.clear();
    keyboardGrabbed = false;
    ungrabWhenReleased = false;
    keys.reset();
}

void X11KeyEventSource::State::connectionLost() {
    Log::write("hotkeys: lost the connection to the X display");
    disconnect();
    if (!enabled || !handler) return;
    // Held keys may have been released meanwhile: the handler is told, and
    // delivery resumes once it calls enable().
    enabled = false;
    Handler current = handler;
    current(KeyEvent{KeyEventType::tapDisabled, 0, 0, false});
}

void X11KeyEventSource::State::dispatchEvents() {
    Display* current = display;
    unsigned long currentConnection = connection;
    while (display == current && connection == currentConnection && !lost() &&
           XPending(current) > 0) {
        XEvent event;
        XNextEvent(current, &event);
        handle(event);
    }
    if (display == current && connection == currentConnection && lost()) connectionLost();
}

void X11KeyEventSource::State::handle(XEvent& event) {
    if (event.xcookie.type == GenericEvent && event.xcookie.extension == xiOpcode) {
        if (!XGetEventData(display, &event.xcookie)) return;
        int evtype = event.xcookie.evtype;
        auto* raw = static_cast<XIRawEvent*>(event.xcookie.data);
        int keycode = raw->detail;
        Time time = raw->time;
        bool synthetic = raw->sourceid == xtestKeyboard;
        XFreeEventData(display, &event.xcookie);
        // Our own paste keystroke coming back is not the user's typing.
        if (synthetic && InjectedKeys::takeIfOwn(keycode, evtype == XI_RawKeyPress)) return;
        if (evtype == XI_RawKeyPress) pressed(keycode, time);
        if (evtype == XI_RawKeyRelease) released(keycode, time);
        return;
    }
    // Keys that reach us through a grab (a hotkey, or every key while
    // capturing or while a grabbed key is held). The server withholds raw
    // events from the client that holds the keyboard grab, so these are the
    // only report then; they also bring the repeats raw events never show.
    // They do not say which device typed them: while our own keystroke is
    // on its way, its keys are taken as ours.
    if ((event.type == KeyPress || event.type == KeyRelease) &&
        InjectedKeys::isExpected(static_cast<int>(event.xkey.keycode))) {
        return;
    }
    if (event.type == KeyPress) {
        pressed(static_cast<int>(event.xkey.keycode), event.xkey.time);
        return;
    }
    if (event.type == KeyRelease) {
        released(static_cast<int>(event.xkey.keycode), event.xkey.time);
        return;
    }
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        if (event.xmapping.request != MappingPointer) {
            ungrabKeys();
            grabKeys();
        }
        return;
    }
    if (xkbEventBase >= 0 && event.type == xkbEventBase) {
        auto* xkb = reinterpret_cast<XkbAnyEvent*>(&event);
        if (xkb->xkb_type == XkbNewKeyboardNotify || xkb->xkb_type == XkbMapNotify) {
            // Key codes may now mean other keys: grab the swallowed keys afresh.
            ungrabKeys();
            grabKeys();
        }
    }
}

// A key event can come both raw and through a grab; the translator drops the copy.
void X11KeyEventSource::State::pressed(int keycode, Time time) {
    if (auto event = keys.press(keycode, macKeyCodeFor(keycode), time)) deliver(*event);
}

void X11KeyEventSource::State::released(int keycode, Time time) {
    if (auto event = keys.release(keycode, macKeyCodeFor(keycode), time)) deliver(*event);
    if (ungrabWhenReleased && display && !keys.ordinaryKeyHeld()) ungrabKeyboard();
}

void X11KeyEventSource::State::deliver(const KeyEvent& event) {
    if (!enabled || !handler) return;
    Handler current = handler;  // the handler may stop or restart the source
    current(event);
}

bool X11KeyEventSource::State::tryGrab(int keycode, unsigned int modifiers) {
    x11::ErrorTrap trap(display);
    XGrabKey(display, keycode, modifiers, DefaultRootWindow(display), False, GrabModeAsync,
             GrabModeAsync);
    if (!trap.succeeded() || lost()) return false;
    grabs.emplace_back(keycode, modifiers);
    return true;
}

// False only when another client holds the key: a key this keyboard lacks
// has nothing to grab.
bool X11KeyEventSource::State::grabKey(int64_t mac) {
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    bool any = false;
    bool tried = false;
    for (int evdev : KeyCodeTable::evdevForMacKeyCode(mac)) {
        int keycode = evdev + KeyCodeTable::kX11KeycodeOffset;
        if (keycode < minKeycode || keycode > maxKeycode) continue;
        tried = true;
        // With any modifiers if nobody else holds a combination of the key,
        // else at least with none and with every lock combination.
        if (tryGrab(keycode, AnyModifier)) {
            any = true;
            continue;
        }
        for (unsigned int locks :
             {0u, unsigned(LockMask), numLockMask, unsigned(LockMask) | numLockMask}) {
            if (tryGrab(keycode, locks)) any = true;
        }
    }
    return any || !tried;
}

void X11KeyEventSource::State::grabKeys(const std::vector<int64_t>& keys) {
    if (!display || lost()) return;
    for (int64_t mac : keys) {
        bool wasTaken = std::find(taken.begin(), taken.end(), mac) != taken.end();
        if (grabKey(mac)) {
            if (wasTaken) taken.erase(std::find(taken.begin(), taken.end(), mac));
        } else if (!wasTaken) {
            // Told once, not at every retry.
            taken.push_back(mac);
            Log::write("hotkeys: key " + std::to_string(mac) +
                       " is grabbed by another application");
        }
    }
}

void X11KeyEventSource::State::ungrabKeys() {
    if (display && !lost()) {
        for (auto [keycode, modifiers] : grabs) {
            XUngrabKey(display, keycode, modifiers, DefaultRootWindow(display));
        }
        XFlush(display);
    }
    grabs.clear();
}

void X11KeyEventSource::State::grabKeyboard() {
    ungrabWhenReleased = false;
    if (!display || lost() || keyboardGrabbed) return;
    int result = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                               GrabModeAsync, CurrentTime);
    keyboardGrabbed = result == GrabSuccess;
    if (!keyboardGrabbed) {
        Log::write(
            "hotkeys: the keyboard is held by another application, the chosen key "
            "also reaches it");
    }
}

void X11KeyEventSource::State::ungrabKeyboard() {
    ungrabWhenReleased = false;
    if (!keyboardGrabbed) return;
    keyboardGrabbed = false;
    if (display && !lost()) {
        XUngrabKeyboard(display, CurrentTime);
        XFlush(display);
    }
}

void X11KeyEventSource::State::scheduleReconnect() {
    if (retryTimer) return;
    retryTimer = g_timeout_add_seconds(
        2,
        [](gpointer data) -> gboolean {
            auto* state = static_cast<State*>(data);
            if (!state->handler || state->display) {
                state->retryTimer.forget();
                return G_SOURCE_REMOVE;
            }
            if (!state->connect()) return G_SOURCE_CONTINUE;
            state->grabKeys();
            state->enabled = true;
            state->retryTimer.forget();
            return G_SOURCE_REMOVE;
        },
        this);
}

X11KeyEventSource::X11KeyEventSource() : state_(std::make_unique<State>()) {}

X11KeyEventSource::~X11KeyEventSource() {
    stop();
}

bool X11KeyEventSource::start(Handler handler) {
    stop();
    if (!state_->connect()) return false;
    // Keys another client holds are only reported as taken: the raw events
    // still serve the modifier hotkeys.
    state_->grabKeys();
    state_->handler = std::move(handler);
    state_->enabled = true;
    return true;
}

void X11KeyEventSource::stop() {
    state_->handler = nullptr;
    state_->enabled = false;
    state_->retryTimer.remove();
    state_->disconnect();
}

void X11KeyEventSource::enable() {
    if (!state_->handler) return;
    if (state_->display) {
        state_->enabled = true;
        return;
    }
    if (state_->connect()) {
        state_->grabKeys();
        state_->enabled = true;
    } else {
        state_->scheduleReconnect();
    }
}

void X11KeyEventSource::setSwallowedKeys(const std::vector<int64_t>& keyCodes) {
    std::vector<int64_t> wanted;
    for (int64_t code : keyCodes) {
        if (!isModifierKey(code) && std::find(wanted.begin(), wanted.end(), code) == wanted.end())
            wanted.push_back(code);
    }
    // Settings reloads hand the same keys again; a grab is kept as it is,
    // and only the keys another client held are tried again.
    if (wanted == state_->swallowedKeys) {
        std::vector<int64_t> retry = state_->taken;
        state_->grabKeys(retry);
        return;
    }
    state_->swallowedKeys = std::move(wanted);
    state_->taken.clear();
    if (!state_->display) return;
    state_->ungrabKeys();
    state_->grabKeys();
}

void X11KeyEventSource::setCaptureMode(bool on) {
    state_->captureMode = on;
    if (on) {
        state_->grabKeyboard();
        return;
    }
    // Keep the grab until the chosen key is released, so its release does not
    // reach the focused window either.
    if (state_->keys.ordinaryKeyHeld() && state_->keyboardGrabbed) {
        state_->ungrabWhenReleased = true;
    } else {
        state_->ungrabKeyboard();
    }
}

std::vector<int64_t> X11KeyEventSource::takenKeys() const {
    return state_->taken;
}

// Right control: every PC keyboard has it, and desktops leave it alone (fn
// never reaches the system at all).
DefaultHotkeys X11KeyEventSource::defaultHotkeys() const {
    return {62, 61};
}

bool X11KeyEventSource::canReport(int64_t keyCode) const {
    // The X protocol carries key codes 8 to 255 only.
    for (int evdev : KeyCodeTable::evdevForMacKeyCode(keyCode)) {
        int keycode = evdev + KeyCodeTable::kX11KeycodeOffset;
        if (keycode >= 8 && keycode <= 255) return true;
    }
    return false;
}

unsigned long X11KeyEventSource::connectionResourceForTesting() const {
    return state_->window;
}

}  // namespace velvox

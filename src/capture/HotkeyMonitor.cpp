#include "capture/HotkeyMonitor.h"

#include <algorithm>

#include "base/Log.h"
#include "platform/Platform.h"

namespace velvox {

namespace {

constexpr HotkeyMonitor::KeyCode kEscapeKey = 53;
constexpr HotkeyMonitor::KeyCode kCapsLockKey = 57;

// Modifier-change events of other keys seen before a configured modifier
// hotkey has shown up once; at this many, the keyboard is taken not to report it.
constexpr int kNeverSeenThreshold = 31;

// Caps lock has no flag bit (it toggles), so it counts as an ordinary key.
bool isModifier(HotkeyMonitor::KeyCode code) {
    return modifierFlag(code) != 0;
}

// A modifier counts as up as soon as its bit is missing from the flags.
bool isReleased(uint64_t mask, uint64_t flags) {
    return (mask & ~flags) != 0;
}

}  // namespace

HotkeyMonitor& HotkeyMonitor::shared() {
    // Never destroyed: the key source may call into it until the process ends.
    static HotkeyMonitor* instance = new HotkeyMonitor();
    return *instance;
}

HotkeyMonitor::HotkeyMonitor()
    : keys_{Platform::keyEventSource().defaultHotkeys().dictation}, self_(this) {}

HotkeyMonitor::~HotkeyMonitor() {
    stop();
}

void HotkeyMonitor::setKeys(const std::vector<KeyCode>& codes) {
    keys_.clear();
    std::copy_if(codes.begin(), codes.end(), std::back_inserter(keys_),
                 [](KeyCode code) { return code >= 0; });
    if (keys_.empty()) keys_.push_back(Platform::keyEventSource().defaultHotkeys().dictation);
    otherKeyEvents_ = 0;
    sawOurKey_ = false;
    warned_ = false;
    publishSwallowedKeys();
}

bool HotkeyMonitor::start() {
    stop();
    publishSwallowedKeys();
    running_ =
        Platform::keyEventSource().start([this](const KeyEvent& event) { return receive(event); });
    return running_;
}

void HotkeyMonitor::stop() {
    if (running_) Platform::keyEventSource().stop();
    running_ = false;
    activeKey_.reset();
}

void HotkeyMonitor::capture() {
    setCapturing(true);
}

void HotkeyMonitor::cancelCapture() {
    setCapturing(false);
}

void HotkeyMonitor::reenable() {
    if (running_) Platform::keyEventSource().enable();
    if (activeKey_) {
        KeyCode held = *activeKey_;
        activeKey_.reset();
        scheduleUp(held);
    }
}

std::vector<HotkeyMonitor::KeyCode> HotkeyMonitor::takenKeys() const {
    return Platform::keyEventSource().takenKeys();
}

void HotkeyMonitor::retryTakenKeys() {
    publishSwallowedKeys();
}

KeyEventVerdict HotkeyMonitor::receive(const KeyEvent& event) {
    if (event.type == KeyEventType::tapDisabled) {
        reenable();
        return KeyEventVerdict::pass;
    }
    return handle(event);
}

KeyEventVerdict HotkeyMonitor::handle(const KeyEvent& event) {
    if (capturing_) return handleCapture(event);
    const KeyCode code = event.keyCode;
    switch (event.type) {
        case KeyEventType::flagsChanged:
            handleModifier(event);
            return KeyEventVerdict::pass;
        case KeyEventType::keyDown:
            // Modifier hotkeys are followed through their flag changes only;
            // a key another application holds acts for that application.
            if (!isHotkey(code) || isModifier(code) || isTaken(code)) {
                if (!event.autorepeat && !isModifier(code)) scheduleOtherKeyDown(code);
                return KeyEventVerdict::pass;
            }
            sawOurKey_ = true;
            if (event.autorepeat || activeKey_) return KeyEventVerdict::swallow;
            activeKey_ = code;
            scheduleDown(code);
            return KeyEventVerdict::swallow;
        case KeyEventType::keyUp:
            if (isModifier(code)) return KeyEventVerdict::pass;
            // The held key is released even when the hotkeys changed while it
            // was down; otherwise it would stay held and block every hotkey.
            if (activeKey_ == code) {
                activeKey_.reset();
                scheduleUp(code);
                return KeyEventVerdict::swallow;
            }
            return isHotkey(code) && !isTaken(code) ? KeyEventVerdict::swallow
                                                    : KeyEventVerdict::pass;
        case KeyEventType::tapDisabled:
            break;
    }
    return KeyEventVerdict::swallow;
}

KeyEventVerdict HotkeyMonitor::handleCapture(const KeyEvent& event) {
    const KeyCode code = event.keyCode;
    switch (event.type) {
        case KeyEventType::keyUp:
            return KeyEventVerdict::swallow;
        case KeyEventType::flagsChanged: {
            uint64_t mask = modifierFlag(code);
            // Releases and keys without a bit (caps lock) do not choose a key.
            if (mask == 0 || isReleased(mask, event.flags)) return KeyEventVerdict::pass;
            setCapturing(false);
            scheduleCaptured(code);
            return KeyEventVerdict::pass;
        }
        case KeyEventType::keyDown: {
            setCapturing(false);
            bool cancels = code == kEscapeKey || code == kCapsLockKey;
            scheduleCaptured(cancels ? std::nullopt : std::optional<KeyCode>(code));
            return KeyEventVerdict::swallow;
        }
        case KeyEventType::tapDisabled:
            break;
    }
    return KeyEventVerdict::swallow;
}

void HotkeyMonitor::handleModifier(const KeyEvent& event) {
    const KeyCode code = event.keyCode;
    // Any flag change can show that the held modifier is up, whatever key it names.
    if (activeKey_ && isModifier(*activeKey_) &&
        isReleased(modifierFlag(*activeKey_), event.flags)) {
        KeyCode held = *activeKey_;
        activeKey_.reset();
        scheduleUp(held);
        if (held == code) return;
    }
    if (isHotkey(code) && isModifier(code)) {
        sawOurKey_ = true;
        if (isReleased(modifierFlag(code), event.flags)) {
            if (activeKey_ == code) {
                activeKey_.reset();
                scheduleUp(code);
            }
        } else if (!activeKey_) {
            activeKey_ = code;
            scheduleDown(code);
        }
        return;
    }
    countOtherModifierEvent();
}

void HotkeyMonitor::countOtherModifierEvent() {
    if (sawOurKey_) return;
    ++otherKeyEvents_;
    if (otherKeyEvents_ >= kNeverSeenThreshold && !warned_) {
        warned_ = true;
        Log::error("configured hotkey never reported by this keyboard");
        scheduleNeverSeen();
    }
}

bool HotkeyMonitor::isHotkey(KeyCode code) const {
    return std::find(keys_.begin(), keys_.end(), code) != keys_.end();
}

bool HotkeyMonitor::isTaken(KeyCode code) const {
    auto taken = takenKeys();
    return std::find(taken.begin(), taken.end(), code) != taken.end();
}

void HotkeyMonitor::setCapturing(bool on) {
    if (capturing_ == on) return;
    capturing_ = on;
    Platform::keyEventSource().setCaptureMode(on);
}

void HotkeyMonitor::publishSwallowedKeys() {
    std::vector<KeyCode> ordinary;
    std::copy_if(keys_.begin(), keys_.end(), std::back_inserter(ordinary),
                 [](KeyCode code) { return !isModifier(code); });
    Platform::keyEventSource().setSwallowedKeys(ordinary);
}

void HotkeyMonitor::scheduleDown(KeyCode code) {
    post([code](HotkeyMonitor& monitor) {
        auto callback = monitor.onDown;
        if (callback) callback(code);
    });
}

void HotkeyMonitor::scheduleUp(KeyCode code) {
    post([code](HotkeyMonitor& monitor) {
        auto callback = monitor.onUp;
        if (callback) callback(code);
    });
}

void HotkeyMonitor::scheduleCaptured(std::optional<KeyCode> code) {
    post([code](HotkeyMonitor& monitor) {
        auto callback = monitor.onCaptured;
        if (callback) callback(code);
    });
}

void HotkeyMonitor::scheduleNeverSeen() {
    post([](HotkeyMonitor& monitor) {
        auto callback = monitor.onHotkeyNeverSeen;
        if (callback) callback();
    });
}

void HotkeyMonitor::scheduleOtherKeyDown(KeyCode code) {
    if (!onOtherKeyDown) return;  // typing costs nothing while nobody listens
    post([code](HotkeyMonitor& monitor) {
        auto callback = monitor.onOtherKeyDown;
        if (callback) callback(code);
    });
}

void HotkeyMonitor::post(std::function<void(HotkeyMonitor&)> work) {
    Platform::mainQueue().async(self_.bind(std::move(work)));
}

}  // namespace velvox

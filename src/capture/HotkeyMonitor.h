#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/WeakSelf.h"
#include "platform/KeyEventSource.h"

namespace velvox {

// Turns presses and releases of the configured push-to-talk keys into onDown
// and onUp calls. A hotkey is an ordinary key (swallowed, so the focused
// application never sees it) or a single modifier key on its own (left and
// right told apart; its changes always reach the application). Two hotkeys can
// be configured; only one is held at a time.
//
// Everything runs on the main thread. The callbacks are never called from
// inside the key handler: they are posted to the main queue.
class HotkeyMonitor {
  public:
    using KeyCode = int64_t;

    static HotkeyMonitor& shared();

    HotkeyMonitor();
    ~HotkeyMonitor();
    HotkeyMonitor(const HotkeyMonitor&) = delete;
    HotkeyMonitor& operator=(const HotkeyMonitor&) = delete;

    // A hotkey went down; the argument says which configured key.
    std::function<void(KeyCode)> onDown;
    // The held hotkey came up (or is taken as up: see reenable()).
    std::function<void(KeyCode)> onUp;
    // Capture mode ended: the key chosen, or nothing when escape or caps lock
    // was pressed.
    std::function<void(std::optional<KeyCode>)> onCaptured;
    // The configured modifier hotkey seems never to be reported by this keyboard.
    std::function<void()> onHotkeyNeverSeen;
    // An ordinary key that is no hotkey went down (not a repeat, not while
    // capturing). It still reaches the focused application.
    std::function<void(KeyCode)> onOtherKeyDown;

    // Replaces the hotkeys with the given codes minus the negative ones (an
    // unset key is -1); with none left, the system's default dictation key
    // (fn on a Mac) is the hotkey. Starts the never-seen check afresh. A held
    // key stays held.
    void setKeys(const std::vector<KeyCode>& codes);
    // (Re)starts watching the keyboard; false when the key source cannot run.
    bool start();
    // Stops watching. A held key is forgotten without onUp.
    void stop();
    // The next key pressed is reported through onCaptured instead of acting as
    // a hotkey.
    void capture();
    void cancelCapture();
    // Resumes a key source the system disabled. A key held at that moment is
    // released with onUp, since its release may have been lost meanwhile.
    void reenable();
    // The ordinary-key hotkeys another application holds; they do not fire
    // until it lets them go. retryTakenKeys() tries to take them back.
    std::vector<KeyCode> takenKeys() const;
    void retryTakenKeys();

    const std::vector<KeyCode>& keys() const { return keys_; }
    std::optional<KeyCode> activeKey() const { return activeKey_; }
    bool isCapturing() const { return capturing_; }
    bool isRunning() const { return running_; }

  private:
    KeyEventVerdict receive(const KeyEvent& event);
    KeyEventVerdict handle(const KeyEvent& event);
    KeyEventVerdict handleCapture(const KeyEvent& event);
    void handleModifier(const KeyEvent& event);
    void countOtherModifierEvent();
    bool isHotkey(KeyCode code) const;
    bool isTaken(KeyCode code) const;
    void setCapturing(bool on);
    void publishSwallowedKeys();

    void scheduleDown(KeyCode code);
    void scheduleUp(KeyCode code);
    void scheduleCaptured(std::optional<KeyCode> code);
    void scheduleNeverSeen();
    void scheduleOtherKeyDown(KeyCode code);
    // Runs work on the main queue later, unless this monitor is gone by then.
    void post(std::function<void(HotkeyMonitor&)> work);

    std::vector<KeyCode> keys_;
    std::optional<KeyCode> activeKey_;
    bool capturing_ = false;
    int otherKeyEvents_ = 0;
    bool sawOurKey_ = false;
    bool warned_ = false;
    bool running_ = false;
    WeakSelf<HotkeyMonitor> self_;
};

}  // namespace velvox

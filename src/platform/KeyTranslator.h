#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "platform/KeyEventSource.h"

namespace velvox {

// Whether a key is a modifier key: one with a ModifierFlag bit, or caps lock,
// which has none.
bool isModifierKey(int64_t macKeyCode);

// Turns a keyboard's presses and releases, as a system reports them, into the
// events the hotkey logic reads: modifier keys as flag changes carrying every
// modifier bit still down, other keys as key-downs and key-ups, and a second
// press of a key still down as an autorepeat. A system may report one press
// or release twice, by two routes, with the same time: the copy is dropped.
class KeyTranslator {
  public:
    // keycode is the system's number for the physical key (held keys are
    // told apart by it); macKeyCode its macOS virtual key code, -1 for a key
    // without one, which is tracked but not reported; time the system's time
    // of the event. Answers the event to deliver, if any.
    std::optional<KeyEvent> press(int keycode, int64_t macKeyCode, uint64_t time);
    std::optional<KeyEvent> release(int keycode, int64_t macKeyCode, uint64_t time);

    // Whether a key other than a modifier is held down.
    bool ordinaryKeyHeld() const;
    // Forgets every key held (the keyboard's connection was closed).
    void reset();

  private:
    std::map<int, int64_t> keysDown_;      // keycode -> macOS key code
    std::map<int, uint64_t> lastPress_;    // keycode -> time of its last press
    std::map<int, uint64_t> lastRelease_;  // keycode -> time of its last release
    uint64_t flags_ = 0;
};

}  // namespace velvox

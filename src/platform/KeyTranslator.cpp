#include "platform/KeyTranslator.h"

#include <algorithm>

namespace velvox {

bool isModifierKey(int64_t macKeyCode) {
    return macKeyCode == 57 || modifierFlag(macKeyCode) != 0;
}

std::optional<KeyEvent> KeyTranslator::press(int keycode, int64_t macKeyCode, uint64_t time) {
    if (macKeyCode < 0) return std::nullopt;
    // Only a key still down can be a copy: quick presses may share a time.
    auto last = lastPress_.find(keycode);
    bool wasDown = keysDown_.count(keycode) != 0;
    if (wasDown && last != lastPress_.end() && last->second == time) return std::nullopt;
    lastPress_[keycode] = time;
    keysDown_[keycode] = macKeyCode;
    if (isModifierKey(macKeyCode)) {
        if (wasDown) return std::nullopt;  // modifiers do not repeat
        flags_ |= modifierFlag(macKeyCode);
        return KeyEvent{KeyEventType::flagsChanged, macKeyCode, flags_, false};
    }
    return KeyEvent{KeyEventType::keyDown, macKeyCode, flags_, wasDown};
}

std::optional<KeyEvent> KeyTranslator::release(int keycode, int64_t macKeyCode, uint64_t time) {
    auto last = lastRelease_.find(keycode);
    if (!keysDown_.count(keycode) && last != lastRelease_.end() && last->second == time) {
        return std::nullopt;
    }
    lastRelease_[keycode] = time;
    bool wasDown = keysDown_.erase(keycode) != 0;
    lastPress_.erase(keycode);
    if (macKeyCode < 0) return std::nullopt;
    if (isModifierKey(macKeyCode)) {
        // Released while not down, it changes no flag: a late copy (a busy
        // server may stamp the two copies of one release with two times).
        if (!wasDown) return std::nullopt;
        flags_ &= ~modifierFlag(macKeyCode);
        return KeyEvent{KeyEventType::flagsChanged, macKeyCode, flags_, false};
    }
    return KeyEvent{KeyEventType::keyUp, macKeyCode, flags_, false};
}

bool KeyTranslator::ordinaryKeyHeld() const {
    return std::any_of(keysDown_.begin(), keysDown_.end(),
                       [](const auto& held) { return !isModifierKey(held.second); });
}

void KeyTranslator::reset() {
    keysDown_.clear();
    lastPress_.clear();
    lastRelease_.clear();
    flags_ = 0;
}

}  // namespace velvox

#include "app/TakeGuards.h"

#include "platform/KeyEventSource.h"

namespace velvox::TakeGuards {

namespace {

constexpr int64_t kEscapeKey = 53;

}  // namespace

bool heardVoice(double loudestDecibels) {
    return loudestDecibels > kSilenceDecibels;
}

KeyDuringTake judgeKey(int64_t keyCode, std::optional<int64_t> heldHotkey, double recordedSeconds,
                       double minHoldSeconds) {
    if (keyCode == kEscapeKey) return KeyDuringTake::cancel;
    bool modifierHeld = heldHotkey && modifierFlag(*heldHotkey) != 0;
    // Compared so that a NaN length counts as early, like a too-short press.
    if (modifierHeld && !(recordedSeconds >= minHoldSeconds + kTypingGraceSeconds))
        return KeyDuringTake::discard;
    return KeyDuringTake::keep;
}

}  // namespace velvox::TakeGuards

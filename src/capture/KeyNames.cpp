#include "capture/KeyNames.h"

#include <optional>
#include <unordered_map>

#include "base/Strings.h"
#include "capture/LetterCase.h"
#include "platform/KeyboardLayout.h"

namespace velvox::KeyNames {

namespace {

// Keys whose names no layout gives. The modifiers carry the names of a PC
// keyboard: macOS's option and command keys are alt and super here.
const std::unordered_map<int64_t, std::string>& table() {
    static const std::unordered_map<int64_t, std::string> names = {
        {63, "fn"},
        {58, "left alt"},
        {61, "right alt"},
        {55, "left super"},
        {54, "right super"},
        {59, "left control"},
        {62, "right control"},
        {56, "left shift"},
        {60, "right shift"},
        {57, "caps lock"},
        {53, "escape"},
        {49, "space"},
        {48, "tab"},
        {36, "return"},
        {76, "enter"},
        {51, "delete"},
        {117, "forward delete"},
        {114, "help"},
        {115, "home"},
        {119, "end"},
        {116, "page up"},
        {121, "page down"},
        {123, "left arrow"},
        {124, "right arrow"},
        {125, "down arrow"},
        {126, "up arrow"},
        {122, "F1"},
        {120, "F2"},
        {99, "F3"},
        {118, "F4"},
        {96, "F5"},
        {97, "F6"},
        {98, "F7"},
        {100, "F8"},
        {101, "F9"},
        {109, "F10"},
        {103, "F11"},
        {111, "F12"},
        {105, "F13"},
        {107, "F14"},
        {113, "F15"},
        {106, "F16"},
        {64, "F17"},
        {79, "F18"},
        {80, "F19"},
        {90, "F20"},
    };
    return names;
}

// What the current layout types for the key, trimmed; may be empty.
std::optional<std::string> character(int64_t code) {
    if (code < 0 || code > 0xFFFF) return std::nullopt;
    auto typed = Platform::keyboardLayout().character(static_cast<uint16_t>(code));
    if (!typed || typed->empty()) return std::nullopt;
    return Strings::trim(*typed);
}

}  // namespace

std::string name(int64_t code) {
    if (code < 0) return "Not set";
    const auto& names = table();
    if (auto found = names.find(code); found != names.end()) return found->second;
    if (auto typed = character(code); typed && !typed->empty()) return LetterCase::upper(*typed);
    return "key " + std::to_string(code);
}

}  // namespace velvox::KeyNames

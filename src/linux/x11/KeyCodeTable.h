#pragma once

#include <cstdint>
#include <vector>

// Key positions: Linux evdev key codes (the X server's key code minus 8) and
// the macOS virtual key codes the rest of the program stores and compares.
namespace velvox::KeyCodeTable {

// The macOS virtual key code of the key at the physical position of an evdev
// key code; -1 for keys that have no counterpart.
int64_t macKeyCodeForEvdev(int evdevCode);

// The evdev key codes at the position of a macOS virtual key code, the usual
// PC key first; empty for codes no PC keyboard has.
std::vector<int> evdevForMacKeyCode(int64_t macKeyCode);

// X11 key codes are evdev codes offset by 8 under the evdev driver.
inline constexpr int kX11KeycodeOffset = 8;

}  // namespace velvox::KeyCodeTable

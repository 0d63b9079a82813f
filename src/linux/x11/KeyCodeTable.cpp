#include "linux/x11/KeyCodeTable.h"

#include <utility>
#include <vector>

namespace velvox::KeyCodeTable {

namespace {

// Generated from two public tables joined on the key's physical position (its
// USB HID usage, as the W3C "UI Events KeyboardEvent code" tables name it):
//   - the KEY_* values of the Linux kernel's include/uapi/linux/input-event-codes.h,
//   - the kVK_* virtual key codes of Apple's HIToolbox/Events.h.
// PC keys with no Apple key of their own take the Apple key at the same spot:
// Insert is Help, Print Screen/Scroll Lock/Pause are F13/F14/F15, Num Lock is
// keypad Clear, the Menu key is the contextual-menu key. Where two evdev codes
// share an Apple key (Insert and Help, Print Screen and F13 ...), the reverse
// answer lists both, the usual PC key first.
constexpr std::pair<int, int64_t> kEvdevToMac[] = {
    {1, 0x35},    // KEY_ESC -> kVK_Escape
    {2, 0x12},    // KEY_1
    {3, 0x13},    // KEY_2
    {4, 0x14},    // KEY_3
    {5, 0x15},    // KEY_4
    {6, 0x17},    // KEY_5
    {7, 0x16},    // KEY_6
    {8, 0x1A},    // KEY_7
    {9, 0x1C},    // KEY_8
    {10, 0x19},   // KEY_9
    {11, 0x1D},   // KEY_0
    {12, 0x1B},   // KEY_MINUS
    {13, 0x18},   // KEY_EQUAL
    {14, 0x33},   // KEY_BACKSPACE -> kVK_Delete
    {15, 0x30},   // KEY_TAB
    {16, 0x0C},   // KEY_Q
    {17, 0x0D},   // KEY_W
    {18, 0x0E},   // KEY_E
    {19, 0x0F},   // KEY_R
    {20, 0x11},   // KEY_T
    {21, 0x10},   // KEY_Y
    {22, 0x20},   // KEY_U
    {23, 0x22},   // KEY_I
    {24, 0x1F},   // KEY_O
    {25, 0x23},   // KEY_P
    {26, 0x21},   // KEY_LEFTBRACE
    {27, 0x1E},   // KEY_RIGHTBRACE
    {28, 0x24},   // KEY_ENTER -> kVK_Return
    {29, 0x3B},   // KEY_LEFTCTRL -> kVK_Control
    {30, 0x00},   // KEY_A
    {31, 0x01},   // KEY_S
    {32, 0x02},   // KEY_D
    {33, 0x03},   // KEY_F
    {34, 0x05},   // KEY_G
    {35, 0x04},   // KEY_H
    {36, 0x26},   // KEY_J
    {37, 0x28},   // KEY_K
    {38, 0x25},   // KEY_L
    {39, 0x29},   // KEY_SEMICOLON
    {40, 0x27},   // KEY_APOSTROPHE -> kVK_ANSI_Quote
    {41, 0x32},   // KEY_GRAVE
    {42, 0x38},   // KEY_LEFTSHIFT -> kVK_Shift
    {43, 0x2A},   // KEY_BACKSLASH
    {44, 0x06},   // KEY_Z
    {45, 0x07},   // KEY_X
    {46, 0x08},   // KEY_C
    {47, 0x09},   // KEY_V
    {48, 0x0B},   // KEY_B
    {49, 0x2D},   // KEY_N
    {50, 0x2E},   // KEY_M
    {51, 0x2B},   // KEY_COMMA
    {52, 0x2F},   // KEY_DOT -> kVK_ANSI_Period
    {53, 0x2C},   // KEY_SLASH
    {54, 0x3C},   // KEY_RIGHTSHIFT
    {55, 0x43},   // KEY_KPASTERISK -> kVK_ANSI_KeypadMultiply
    {56, 0x3A},   // KEY_LEFTALT -> kVK_Option
    {57, 0x31},   // KEY_SPACE
    {58, 0x39},   // KEY_CAPSLOCK
    {59, 0x7A},   // KEY_F1
    {60, 0x78},   // KEY_F2
    {61, 0x63},   // KEY_F3
    {62, 0x76},   // KEY_F4
    {63, 0x60},   // KEY_F5
    {64, 0x61},   // KEY_F6
    {65, 0x62},   // KEY_F7
    {66, 0x64},   // KEY_F8
    {67, 0x65},   // KEY_F9
    {68, 0x6D},   // KEY_F10
    {69, 0x47},   // KEY_NUMLOCK -> kVK_ANSI_KeypadClear
    {70, 0x6B},   // KEY_SCROLLLOCK -> kVK_F14
    {71, 0x59},   // KEY_KP7
    {72, 0x5B},   // KEY_KP8
    {73, 0x5C},   // KEY_KP9
    {74, 0x4E},   // KEY_KPMINUS
    {75, 0x56},   // KEY_KP4
    {76, 0x57},   // KEY_KP5
    {77, 0x58},   // KEY_KP6
    {78, 0x45},   // KEY_KPPLUS
    {79, 0x53},   // KEY_KP1
    {80, 0x54},   // KEY_KP2
    {81, 0x55},   // KEY_KP3
    {82, 0x52},   // KEY_KP0
    {83, 0x41},   // KEY_KPDOT -> kVK_ANSI_KeypadDecimal
    {86, 0x0A},   // KEY_102ND -> kVK_ISO_Section
    {87, 0x67},   // KEY_F11
    {88, 0x6F},   // KEY_F12
    {89, 0x5E},   // KEY_RO -> kVK_JIS_Underscore
    {95, 0x5F},   // KEY_KPJPCOMMA -> kVK_JIS_KeypadComma
    {96, 0x4C},   // KEY_KPENTER
    {97, 0x3E},   // KEY_RIGHTCTRL -> kVK_RightControl
    {98, 0x4B},   // KEY_KPSLASH -> kVK_ANSI_KeypadDivide
    {99, 0x69},   // KEY_SYSRQ (Print Screen) -> kVK_F13
    {100, 0x3D},  // KEY_RIGHTALT -> kVK_RightOption
    {102, 0x73},  // KEY_HOME
    {103, 0x7E},  // KEY_UP
    {104, 0x74},  // KEY_PAGEUP
    {105, 0x7B},  // KEY_LEFT
    {106, 0x7C},  // KEY_RIGHT
    {107, 0x77},  // KEY_END
    {108, 0x7D},  // KEY_DOWN
    {109, 0x79},  // KEY_PAGEDOWN
    {110, 0x72},  // KEY_INSERT -> kVK_Help
    {111, 0x75},  // KEY_DELETE -> kVK_ForwardDelete
    {113, 0x4A},  // KEY_MUTE
    {114, 0x49},  // KEY_VOLUMEDOWN
    {115, 0x48},  // KEY_VOLUMEUP
    {117, 0x51},  // KEY_KPEQUAL -> kVK_ANSI_KeypadEquals
    {119, 0x71},  // KEY_PAUSE -> kVK_F15
    {121, 0x5F},  // KEY_KPCOMMA -> kVK_JIS_KeypadComma
    {122, 0x68},  // KEY_HANGEUL -> kVK_JIS_Kana (the Lang1 position)
    {123, 0x66},  // KEY_HANJA -> kVK_JIS_Eisu (the Lang2 position)
    {124, 0x5D},  // KEY_YEN -> kVK_JIS_Yen
    {125, 0x37},  // KEY_LEFTMETA -> kVK_Command
    {126, 0x36},  // KEY_RIGHTMETA -> kVK_RightCommand
    {127, 0x6E},  // KEY_COMPOSE (Menu) -> kVK_ContextualMenu
    {138, 0x72},  // KEY_HELP -> kVK_Help
    {183, 0x69},  // KEY_F13
    {184, 0x6B},  // KEY_F14
    {185, 0x71},  // KEY_F15
    {186, 0x6A},  // KEY_F16
    {187, 0x40},  // KEY_F17
    {188, 0x4F},  // KEY_F18
    {189, 0x50},  // KEY_F19
    {190, 0x5A},  // KEY_F20
    {464, 0x3F},  // KEY_FN -> kVK_Function
};

}  // namespace

int64_t macKeyCodeForEvdev(int evdevCode) {
    for (const auto& [evdev, mac] : kEvdevToMac) {
        if (evdev == evdevCode) return mac;
    }
    return -1;
}

std::vector<int> evdevForMacKeyCode(int64_t macKeyCode) {
    std::vector<int> found;
    for (const auto& [evdev, mac] : kEvdevToMac) {
        if (mac == macKeyCode) found.push_back(evdev);
    }
    return found;
}

}  // namespace velvox::KeyCodeTable

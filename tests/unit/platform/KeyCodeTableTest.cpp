#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "platform/linux/KeyCodeTable.h"

namespace velvox {
namespace {

using KeyCodeTable::evdevForMacKeyCode;
using KeyCodeTable::macKeyCodeForEvdev;

// evdev codes from input-event-codes.h, macOS codes from HIToolbox.
TEST(KeyCodeTableTest, MapsKeysByPhysicalPosition) {
    EXPECT_EQ(macKeyCodeForEvdev(30), 0);     // A
    EXPECT_EQ(macKeyCodeForEvdev(16), 12);    // Q
    EXPECT_EQ(macKeyCodeForEvdev(44), 6);     // Z
    EXPECT_EQ(macKeyCodeForEvdev(63), 96);    // F5
    EXPECT_EQ(macKeyCodeForEvdev(59), 122);   // F1
    EXPECT_EQ(macKeyCodeForEvdev(88), 111);   // F12
    EXPECT_EQ(macKeyCodeForEvdev(57), 49);    // space
    EXPECT_EQ(macKeyCodeForEvdev(1), 53);     // escape
    EXPECT_EQ(macKeyCodeForEvdev(28), 36);    // return
    EXPECT_EQ(macKeyCodeForEvdev(14), 51);    // backspace is macOS delete
    EXPECT_EQ(macKeyCodeForEvdev(111), 117);  // delete is forward delete
    EXPECT_EQ(macKeyCodeForEvdev(2), 18);     // 1
    EXPECT_EQ(macKeyCodeForEvdev(11), 29);    // 0
}

TEST(KeyCodeTableTest, ModifiersKeepTheirSide) {
    EXPECT_EQ(macKeyCodeForEvdev(100), 61);  // right alt = right option
    EXPECT_EQ(macKeyCodeForEvdev(56), 58);   // left alt = left option
    EXPECT_EQ(macKeyCodeForEvdev(125), 55);  // left super = left command
    EXPECT_EQ(macKeyCodeForEvdev(126), 54);  // right super = right command
    EXPECT_EQ(macKeyCodeForEvdev(29), 59);   // left control
    EXPECT_EQ(macKeyCodeForEvdev(97), 62);   // right control
    EXPECT_EQ(macKeyCodeForEvdev(42), 56);   // left shift
    EXPECT_EQ(macKeyCodeForEvdev(54), 60);   // right shift
    EXPECT_EQ(macKeyCodeForEvdev(58), 57);   // caps lock
}

TEST(KeyCodeTableTest, UnknownKeysHaveNoCode) {
    EXPECT_EQ(macKeyCodeForEvdev(0), -1);    // KEY_RESERVED
    EXPECT_EQ(macKeyCodeForEvdev(116), -1);  // KEY_POWER
    EXPECT_EQ(macKeyCodeForEvdev(9999), -1);
    EXPECT_TRUE(evdevForMacKeyCode(-1).empty());
    EXPECT_TRUE(evdevForMacKeyCode(0x34).empty());  // no Apple key has this code
}

TEST(KeyCodeTableTest, ReverseLookupFindsEveryKeyAtThePosition) {
    EXPECT_EQ(evdevForMacKeyCode(0), std::vector<int>{30});
    EXPECT_EQ(evdevForMacKeyCode(96), std::vector<int>{63});
    EXPECT_EQ(evdevForMacKeyCode(61), std::vector<int>{100});
    // Print Screen stands where the Apple F13 is; a real F13 key is there too.
    EXPECT_EQ(evdevForMacKeyCode(105), (std::vector<int>{99, 183}));
    // Every evdev code maps to one Apple code and back to a list holding it.
    std::set<int64_t> seen;
    for (int evdev = 0; evdev < 600; ++evdev) {
        int64_t mac = macKeyCodeForEvdev(evdev);
        if (mac < 0) continue;
        seen.insert(mac);
        auto back = evdevForMacKeyCode(mac);
        EXPECT_NE(std::find(back.begin(), back.end(), evdev), back.end()) << evdev;
    }
    // The whole US keyboard plus keypad and function row is covered.
    EXPECT_GE(seen.size(), 110u);
}

}  // namespace
}  // namespace velvox

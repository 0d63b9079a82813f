#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "platform/linux/KeyCodeTable.h"

namespace velvox {
namespace {

using KeyCodeTable::evdevForMacKeyCode;
using KeyCodeTable::macKeyCodeForEvdev;

// Keys map by physical position (evdev codes from input-event-codes.h, macOS
// codes from HIToolbox), and every mapped key is found back at its position.
// Print Screen stands where the Apple F13 is; a real F13 key is there too.
TEST(KeyCodeTableTest, EveryMappedKeyIsFoundBackAtItsPosition) {
    for (const auto& [evdev, mac] :
         {std::pair<int, int64_t>{30, 0}, {63, 96}, {125, 55}, {126, 54}, {0, -1}, {9999, -1}})
        EXPECT_EQ(macKeyCodeForEvdev(evdev), mac) << evdev;
    EXPECT_TRUE(evdevForMacKeyCode(-1).empty());
    EXPECT_EQ(evdevForMacKeyCode(105), (std::vector<int>{99, 183}));
    std::set<int64_t> seen;
    for (int evdev = 0; evdev < 600; ++evdev) {
        int64_t mac = macKeyCodeForEvdev(evdev);
        if (mac < 0) continue;
        seen.insert(mac);
        auto back = evdevForMacKeyCode(mac);
        EXPECT_NE(std::find(back.begin(), back.end(), evdev), back.end()) << evdev;
    }
    EXPECT_GE(seen.size(), 110u);  // the US keyboard, keypad and function row
}

}  // namespace
}  // namespace velvox

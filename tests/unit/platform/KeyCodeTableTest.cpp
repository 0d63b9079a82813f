#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "platform/linux/KeyCodeTable.h"

namespace velvox {
namespace {

using KeyCodeTable::evdevForMacKeyCode;
using KeyCodeTable::macKeyCodeForEvdev;

// Keys map by physical position, modifiers keep their side. evdev codes from
// input-event-codes.h, macOS codes from HIToolbox.
TEST(KeyCodeTableTest, MapsKeysByPhysicalPosition) {
    const std::pair<int, int64_t> keys[] = {{30, 0},    {16, 12},  {44, 6},  {63, 96},  {59, 122},
                                            {88, 111},  {57, 49},  {1, 53},  {28, 36},  {14, 51},
                                            {111, 117}, {2, 18},   {11, 29}, {100, 61}, {56, 58},
                                            {125, 55},  {126, 54}, {29, 59}, {97, 62},  {42, 56},
                                            {54, 60},   {58, 57},  {0, -1},  {116, -1}, {9999, -1}};
    for (const auto& [evdev, mac] : keys) EXPECT_EQ(macKeyCodeForEvdev(evdev), mac) << evdev;
    EXPECT_TRUE(evdevForMacKeyCode(-1).empty());
    EXPECT_TRUE(evdevForMacKeyCode(0x34).empty());  // no Apple key has this code
    EXPECT_EQ(evdevForMacKeyCode(96), std::vector<int>{63});
    // Print Screen stands where the Apple F13 is; a real F13 key is there too.
    EXPECT_EQ(evdevForMacKeyCode(105), (std::vector<int>{99, 183}));
}

TEST(KeyCodeTableTest, EveryMappedKeyIsFoundBackAtItsPosition) {
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

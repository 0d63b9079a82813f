#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "linux/glib/GlibMainQueue.h"
#include "linux/x11/KeyCodeTable.h"
#include "support/MainLoop.h"

namespace velvox {
namespace {

// Work runs later, in order, from any thread; a destroyed handle cancels, and
// a repeating timer runs until it cancels itself.
TEST(GlibMainQueueTest, WorkRunsLaterInOrderUntilCancelled) {
    GlibMainQueue queue;
    std::vector<std::string> ran;
    queue.async([&] { ran.push_back("main 1"); });
    std::thread([&] { queue.async([&] { ran.push_back("worker"); }); }).join();
    queue.async([&] { ran.push_back("main 2"); });
    EXPECT_TRUE(ran.empty()) << "never inline";
    {
        auto cancelled = queue.asyncAfter(0.01, [&] { ran.push_back("cancelled"); });
    }
    auto kept = queue.asyncAfter(0.02, [&] { ran.push_back("kept"); });
    int ticks = 0;
    ScheduledWork timer = queue.repeating(0.005, [&] {
        if (++ticks == 3) timer.cancel();
    });
    bool done = false;
    auto finish = queue.asyncAfter(0.08, [&] { done = true; });
    ASSERT_TRUE(testing::spinUntil([&] { return done; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"main 1", "worker", "main 2", "kept"}));
    EXPECT_EQ(ticks, 3);
    kept.cancel();  // cancelling after it ran is harmless
}

// Keys map by physical position (evdev codes from input-event-codes.h, macOS
// codes from HIToolbox). Print Screen stands where the Apple F13 is; a real F13
// key is there too, after it.
TEST(KeyCodeTableTest, KeysMapByPhysicalPosition) {
    for (const auto& [evdev, mac] :
         {std::pair<int, int64_t>{30, 0}, {63, 96}, {125, 55}, {126, 54}, {0, -1}, {9999, -1}})
        EXPECT_EQ(KeyCodeTable::macKeyCodeForEvdev(evdev), mac) << evdev;
    EXPECT_TRUE(KeyCodeTable::evdevForMacKeyCode(-1).empty());
    EXPECT_EQ(KeyCodeTable::evdevForMacKeyCode(105), (std::vector<int>{99, 183}));
}

}  // namespace
}  // namespace velvox

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/linux/GlibMainQueue.h"
#include "support/MainLoop.h"

namespace velvox {
namespace {

using testing::spinUntil;

TEST(GlibMainQueueTest, AsyncRunsLaterInOrderFromAnyThread) {
    GlibMainQueue queue;
    std::vector<std::string> ran;
    queue.async([&] { ran.push_back("main 1"); });
    std::thread([&] { queue.async([&] { ran.push_back("worker"); }); }).join();
    queue.async([&] { ran.push_back("main 2"); });
    EXPECT_TRUE(ran.empty()) << "never inline";
    ASSERT_TRUE(spinUntil([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"main 1", "worker", "main 2"}));
}

TEST(GlibMainQueueTest, DestroyedHandlesCancelAndRepeatingTimersRunUntilCancelled) {
    GlibMainQueue queue;
    std::vector<std::string> ran;
    bool done = false;
    {
        auto cancelled = queue.asyncAfter(0.01, [&] { ran.push_back("cancelled"); });
    }
    auto kept = queue.asyncAfter(0.02, [&] { ran.push_back("kept"); });
    int ticks = 0;
    ScheduledWork timer = queue.repeating(0.005, [&] {
        if (++ticks == 3) timer.cancel();
    });
    auto finish = queue.asyncAfter(0.08, [&] { done = true; });
    ASSERT_TRUE(spinUntil([&] { return done; }));
    EXPECT_EQ(ran, std::vector<std::string>{"kept"});
    EXPECT_EQ(ticks, 3);
    kept.cancel();  // cancelling after it ran is harmless
}

}  // namespace
}  // namespace velvox

#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fakes/ManualMainQueue.h"
#include "linux/glib/GlibMainQueue.h"
#include "linux/x11/KeyCodeTable.h"
#include "support/MainLoop.h"

namespace velvox {
namespace {

// What every main queue promises, kept by the fake the unit tests drive by
// hand and by the GLib queue the program runs on. Each driver lets time pass
// its own way: the manual clock jumps, the GLib loop runs for real.
struct ManualDriver {
    testing::ManualMainQueue queue;
    void pass(double seconds) { queue.advance(seconds); }
};
struct GlibDriver {
    GlibMainQueue queue;
    void pass(double seconds) {
        testing::spinFor(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
    }
};

template <typename Driver>
class MainQueueContract : public ::testing::Test {
  protected:
    Driver driver;
    MainQueue& queue = driver.queue;
    std::vector<std::string> ran;
    std::function<void()> note(std::string what) {
        return [this, what] { ran.push_back(what); };
    }
};
using Drivers = ::testing::Types<ManualDriver, GlibDriver>;
TYPED_TEST_SUITE(MainQueueContract, Drivers);

// Work runs later, never inline, in the order it was sent, also from another thread.
TYPED_TEST(MainQueueContract, WorkRunsLaterInOrderFromAnyThread) {
    this->queue.async(this->note("main 1"));
    std::thread([this] { this->queue.async(this->note("worker")); }).join();
    this->queue.async(this->note("main 2"));
    EXPECT_TRUE(this->ran.empty()) << "never inline";
    this->driver.pass(0.02);
    EXPECT_EQ(this->ran, (std::vector<std::string>{"main 1", "worker", "main 2"}));
}

// The program's loop runs one piece of work per turn, so that pieces sent
// together never add up to one long turn.
TEST(GlibMainQueueTest, EachPieceOfWorkTakesATurnOfTheLoop) {
    GlibMainQueue queue;
    int ran = 0;
    for (int piece = 0; piece < 3; ++piece) queue.async([&] { ++ran; });
    for (int turn = 1; turn <= 3; ++turn) {
        g_main_context_iteration(nullptr, FALSE);
        EXPECT_EQ(ran, turn);
    }
}

// Timers fire once, by when they fall due rather than when they were made; a
// destroyed or cancelled handle stops its work, and cancelling after it ran is harmless.
TYPED_TEST(MainQueueContract, TimersFireOnceInDueOrderUnlessCancelled) {
    auto late = this->queue.asyncAfter(0.3, this->note("late"));
    auto early = this->queue.asyncAfter(0.02, this->note("early"));
    { auto dropped = this->queue.asyncAfter(0.01, this->note("dropped")); }
    auto cancelled = this->queue.asyncAfter(0.01, this->note("cancelled"));
    cancelled.cancel();
    this->driver.pass(0.05);
    EXPECT_EQ(this->ran, (std::vector<std::string>{"early"}));
    this->driver.pass(0.4);
    EXPECT_EQ(this->ran, (std::vector<std::string>{"early", "late"}));
    late.cancel();
}

// A repeating timer runs every interval until cancelled, from its own work too.
TYPED_TEST(MainQueueContract, RepeatingRunsUntilCancelled) {
    int ticks = 0;
    ScheduledWork timer = this->queue.repeating(0.005, [&] {
        if (++ticks == 3) timer.cancel();
    });
    this->driver.pass(0.3);
    EXPECT_EQ(ticks, 3);
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

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <vector>

#include "platform/linux/x11/X11Connection.h"

namespace velvox {
namespace {

std::vector<Display*> reachedToolkit;  // displays whose errors reached the handler before ours

// Xlib's error handler is process-wide and a toolkit has its own in place:
// ours must answer for our connections and trapped displays only, and hand
// every other error on instead of replacing that handler. Run in a process of
// its own, since the handlers it puts in place cannot be taken back.
void catchesItsOwnErrorsAndHandsOthersOn() {
    XSetErrorHandler([](Display* display, XErrorEvent*) {
        reachedToolkit.push_back(display);
        return 0;
    });
    auto connection = x11::Connection::open();
    ASSERT_TRUE(connection);
    Display* ours = connection->display();
    Display* other = XOpenDisplay(nullptr);
    ASSERT_TRUE(other);
    auto failRequest = [](Display* display) { XMapWindow(display, None); };  // BadWindow

    {
        x11::ErrorTrap trap(ours);
        failRequest(ours);
        EXPECT_FALSE(trap.succeeded());
    }
    {
        x11::ErrorTrap trap(ours);
        EXPECT_TRUE(trap.succeeded()) << "a new trap starts clean";
    }
    failRequest(ours);
    XSync(ours, False);
    EXPECT_TRUE(reachedToolkit.empty()) << "an untrapped error on our own connection stays ours";

    failRequest(other);
    XSync(other, False);
    EXPECT_EQ(reachedToolkit, std::vector<Display*>{other});
    {
        x11::ErrorTrap trap(other);
        failRequest(other);
        EXPECT_FALSE(trap.succeeded());
    }
    failRequest(other);
    XSync(other, False);
    EXPECT_EQ(reachedToolkit, (std::vector<Display*>{other, other})) << "the trap ended with it";

    XCloseDisplay(other);
    connection.reset();
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST(X11ConnectionDeathTest, CatchesItsOwnErrorsAndHandsOthersOn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(catchesItsOwnErrorsAndHandsOthersOn(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace velvox

// The monitors, the pointer and the focused window's monitor as GDK and the
// window manager report them on the headless X server, and the news of a
// work area that changes.
#include <gtest/gtest.h>

#include <memory>

#include "platform/linux/GdkScreens.h"
// X11 last: its macros must not reach the headers above.
#include "DesktopProbe.h"

namespace velvox::testing {
namespace {

class GdkScreensTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
    void SetUp() override {
        screens = GdkScreens::create();
        ASSERT_TRUE(screens);
    }
    std::shared_ptr<GdkScreens> screens;
};

void expectWorkArea(const Rect& visible, const WorkArea& published) {
    EXPECT_EQ(visible.x, published.x);
    EXPECT_EQ(visible.y, published.y);
    EXPECT_EQ(visible.width, published.width);
    EXPECT_EQ(visible.height, published.height);
}

TEST_F(GdkScreensTest, TheMonitorThePointerAndTheFocusedWindowsMonitor) {
    Display* display = xdisplay();
    auto all = screens->screens();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].frame.x, 0);
    EXPECT_EQ(all[0].frame.y, 0);
    EXPECT_EQ(all[0].frame.width, DisplayWidth(display, DefaultScreen(display)));
    EXPECT_EQ(all[0].frame.height, DisplayHeight(display, DefaultScreen(display)));
    auto published = publishedWorkArea();
    ASSERT_TRUE(published);
    expectWorkArea(all[0].visibleFrame, *published);

    ASSERT_TRUE(run("xdotool mousemove 1234 567"));
    ASSERT_TRUE(spinUntil([&] {
        Point mouse = screens->mouseLocation();
        return mouse.x == 1234 && mouse.y == 567;
    }));

    TargetWindow target(300, 200, 400, 300);
    ASSERT_TRUE(target.focus());
    auto main = screens->mainScreen();
    ASSERT_TRUE(main);
    EXPECT_EQ(main->frame.width, all[0].frame.width);
    EXPECT_EQ(main->visibleFrame.height, all[0].visibleFrame.height);
}

TEST_F(GdkScreensTest, AChangedWorkAreaIsReportedUntilTheHandleGoes) {
    int kept = 0, cancelled = 0;
    Handle keptHandle = screens->observeChanges([&] { ++kept; });
    Handle cancelledHandle = screens->observeChanges([&] { ++cancelled; });
    cancelledHandle.cancel();
    auto before = publishedWorkArea();
    ASSERT_TRUE(before);

    {
        BottomPanel bottom(48);
        ASSERT_TRUE(spinUntil([&] { return kept >= 1; }));
        ASSERT_TRUE(spinUntil(
            [&] { return screens->screens().front().visibleFrame.height == before->height - 48; }));
        auto published = publishedWorkArea();
        ASSERT_TRUE(published);
        expectWorkArea(screens->screens().front().visibleFrame, *published);
        // The frame is the whole monitor still.
        EXPECT_EQ(screens->screens().front().frame.height, before->height);
    }
    int beforeRemoval = kept;
    ASSERT_TRUE(spinUntil([&] { return kept > beforeRemoval; }));
    EXPECT_EQ(cancelled, 0);

    // Gone with its handle: nothing more arrives, and nothing breaks when the
    // screens object itself goes while a report may be pending.
    keptHandle = Handle();
    int afterCancel = kept;
    {
        BottomPanel bottom(30);
        ASSERT_TRUE(spinUntil([&] {
            auto now = publishedWorkArea();
            return now && now->height == before->height - 30;
        }));
        spinFor(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(kept, afterCancel);
    Handle outliving = screens->observeChanges([&] { ++kept; });
    screens.reset();
    spinFor(std::chrono::milliseconds(100));
    outliving.cancel();
}

}  // namespace
}  // namespace velvox::testing

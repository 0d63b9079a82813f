// The monitors, the pointer and the focused window's monitor as GDK and the
// window manager report them on the headless X server, and the news of a
// work area that changes.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "platform/linux/GdkScreens.h"
// X11 last: its macros must not reach the headers above.
#include "DesktopProbe.h"

namespace velvox::testing {
namespace {

std::array<double, 4> parts(const Rect& r) {
    return {r.x, r.y, r.width, r.height};
}

class GdkScreensTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
    void SetUp() override {
        screens = GdkScreens::create();
        ASSERT_TRUE(screens);
    }
    // The visible frame is the work area the window manager publishes.
    void expectPublishedWorkArea() {
        auto published = publishedWorkArea();
        ASSERT_TRUE(published);
        EXPECT_EQ(parts(screens->screens().front().visibleFrame),
                  (std::array<double, 4>{double(published->x), double(published->y),
                                         double(published->width), double(published->height)}));
    }
    std::shared_ptr<GdkScreens> screens;
};

TEST_F(GdkScreensTest, TheMonitorThePointerAndTheFocusedWindowsMonitor) {
    Display* display = xdisplay();
    auto all = screens->screens();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(parts(all[0].frame),
              (std::array<double, 4>{0, 0, double(DisplayWidth(display, DefaultScreen(display))),
                                     double(DisplayHeight(display, DefaultScreen(display)))}));
    expectPublishedWorkArea();

    ASSERT_TRUE(run("xdotool mousemove 1234 567"));
    ASSERT_TRUE(spinUntil([&] {
        Point mouse = screens->mouseLocation();
        return mouse.x == 1234 && mouse.y == 567;
    }));
    TargetWindow target(300, 200, 400, 300);
    ASSERT_TRUE(target.focus());
    auto main = screens->mainScreen();
    ASSERT_TRUE(main);
    EXPECT_EQ(parts(main->frame), parts(all[0].frame));
    EXPECT_EQ(parts(main->visibleFrame), parts(all[0].visibleFrame));
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
        expectPublishedWorkArea();
        EXPECT_EQ(screens->screens().front().frame.height, before->height) << "the whole monitor";
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

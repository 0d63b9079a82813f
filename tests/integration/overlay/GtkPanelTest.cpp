// The real floating panel on the headless X server: a window that the window
// manager leaves alone, fades that replace each other, size and place, and
// draws that GTK gathers into one.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "platform/linux/GtkPanel.h"
#include "platform/linux/PangoText.h"
// X11 last: its macros must not reach the headers above.
#include "DesktopProbe.h"

namespace velvox::testing {
namespace {

class GtkPanelTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
    void SetUp() override {
        panel = GtkPanel::create({200, 50}, std::make_shared<PangoText>());
        ASSERT_TRUE(panel);
        panel->setDrawHandler([this](Canvas&, const Rect& bounds) { drawnBounds = bounds; });
    }
    void TearDown() override {
        panel.reset();
        spinFor(std::chrono::milliseconds(20));
    }
    WindowFacts facts() { return factsOf(xidOf(panel->widget())); }
    bool showAndWaitForDraw() {
        int before = panel->drawCountForTesting();
        panel->orderFront();
        return spinUntil([&] { return facts().viewable && panel->drawCountForTesting() > before; });
    }

    std::shared_ptr<GtkPanel> panel;
    Rect drawnBounds;
};

TEST_F(GtkPanelTest, ShowsWhereAndAsLargeAsAskedOutsideTheWindowManagersCare) {
    panel->setOrigin({300, 400});
    EXPECT_FALSE(panel->isVisible());
    ASSERT_TRUE(showAndWaitForDraw());
    EXPECT_TRUE(panel->isVisible());
    WindowFacts shown = facts();
    EXPECT_TRUE(shown.overrideRedirect);
    EXPECT_EQ(std::vector<int>({shown.x, shown.y, shown.width, shown.height}),
              std::vector<int>({300, 400, 200, 50}));
    EXPECT_EQ(drawnBounds.width, 200);

    // Resized and moved while shown: the window follows, and the next draw knows.
    panel->setContentSize({260.4, 40});
    panel->setOrigin({10, 20});
    ASSERT_TRUE(spinUntil([&] {
        WindowFacts now = facts();
        return now.width == 260 && now.height == 40 && now.x == 10 && now.y == 20;
    }));
    ASSERT_TRUE(spinUntil([&] { return drawnBounds.width == 260; }));

    panel->orderOut();
    EXPECT_FALSE(panel->isVisible());
    ASSERT_TRUE(spinUntil([&] { return !facts().viewable; }));
}

TEST_F(GtkPanelTest, ACompositorComingAndGoingSwitchesTranslucencyAndKeepsClicksPassing) {
    TargetWindow target(200, 300, 500, 300);
    ASSERT_TRUE(target.focus());
    panel->setOrigin({300, 420});
    ASSERT_TRUE(showAndWaitForDraw());
    ASSERT_TRUE(panel->drawsOpaque()) << "the headless session runs no compositor";
    EXPECT_EQ(facts().depth, 24);

    auto clickReachesTarget = [&] {
        size_t before = target.presses().size();
        return run("xdotool mousemove 400 445 click 1") &&
               spinUntil([&] { return target.presses().size() > before; });
    };
    {
        CompositorStandIn compositor;
        // A new window with an alpha channel, shown again where it was.
        ASSERT_TRUE(spinUntil(
            [&] { return !panel->drawsOpaque() && facts().viewable && facts().depth == 32; }));
        EXPECT_TRUE(panel->isVisible());
        EXPECT_TRUE(facts().overrideRedirect);
        EXPECT_EQ(facts().x, 300);
        EXPECT_TRUE(clickReachesTarget());
        EXPECT_EQ(activeWindow(), target.window());
    }
    ASSERT_TRUE(
        spinUntil([&] { return panel->drawsOpaque() && facts().viewable && facts().depth == 24; }));
    EXPECT_TRUE(clickReachesTarget());
    EXPECT_EQ(activeWindow(), target.window());

    // A hidden panel stays hidden through the switch.
    panel->orderOut();
    CompositorStandIn compositor;
    ASSERT_TRUE(spinUntil([&] { return !panel->drawsOpaque(); }));
    spinFor(std::chrono::milliseconds(50));
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(facts().viewable);
}

TEST_F(GtkPanelTest, AReplacedFadeStillCompletesAndTheNewOneEndsAtItsTarget) {
    ASSERT_TRUE(showAndWaitForDraw());
    panel->setAlpha(0);
    const auto mainThread = std::this_thread::get_id();
    int firstDone = 0, secondDone = 0;
    double alphaWhenFirstDone = -1;
    bool onMainThread = true;
    panel->animateAlpha(1, 30, [&] {
        ++firstDone;
        alphaWhenFirstDone = panel->alpha();
        onMainThread = onMainThread && std::this_thread::get_id() == mainThread;
    });
    ASSERT_TRUE(spinUntil([&] { return panel->alpha() > 0; }));
    panel->animateAlpha(0.25, 0.1, [&] {
        ++secondDone;
        onMainThread = onMainThread && std::this_thread::get_id() == mainThread;
    });
    // Never inside the call that replaced it: that caller may still be
    // setting up what the completion looks at.
    EXPECT_EQ(firstDone, 0);
    ASSERT_TRUE(spinUntil([&] { return secondDone == 1; }));
    EXPECT_EQ(firstDone, 1);
    EXPECT_GT(alphaWhenFirstDone, 0);
    EXPECT_LT(alphaWhenFirstDone, 1);
    EXPECT_DOUBLE_EQ(panel->alpha(), 0.25);
    EXPECT_TRUE(onMainThread);
    // The opacity reaches the window, for a compositor to apply.
    auto opacity = cardinals("_NET_WM_WINDOW_OPACITY", xidOf(panel->widget()));
    ASSERT_EQ(opacity.size(), 1u);
    EXPECT_NEAR(double(static_cast<unsigned long>(opacity[0]) & 0xFFFFFFFFul) / 0xFFFFFFFFul, 0.25,
                0.01);

    // A direct setting stops a running fade; its completion still comes.
    int thirdDone = 0;
    panel->animateAlpha(1, 30, [&] { ++thirdDone; });
    panel->setAlpha(0.5);
    ASSERT_TRUE(spinUntil([&] { return thirdDone == 1; }));
    spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(panel->alpha(), 0.5);

    // A fade to where the panel already is, or of no length, ends at once
    // (but still not inside the call).
    int immediate = 0;
    panel->animateAlpha(0.5, 0.2, [&] { ++immediate; });
    panel->animateAlpha(0.8, 0, [&] { ++immediate; });
    EXPECT_EQ(immediate, 0);
    EXPECT_EQ(panel->alpha(), 0.8);
    ASSERT_TRUE(spinUntil([&] { return immediate == 2; }));
}

TEST_F(GtkPanelTest, ManyRequestsForADrawMakeOneAndAHiddenPanelNone) {
    ASSERT_TRUE(showAndWaitForDraw());
    spinFor(std::chrono::milliseconds(100));
    int before = panel->drawCountForTesting();
    for (int request = 0; request < 10; ++request) panel->setNeedsDisplay();
    ASSERT_TRUE(spinUntil([&] { return panel->drawCountForTesting() > before; }));
    spinFor(std::chrono::milliseconds(150));
    EXPECT_EQ(panel->drawCountForTesting(), before + 1);

    panel->orderOut();
    spinFor(std::chrono::milliseconds(50));
    before = panel->drawCountForTesting();
    panel->setNeedsDisplay();
    spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(panel->drawCountForTesting(), before);
}

}  // namespace
}  // namespace velvox::testing

#include "base/Paths.h"
#include "feedback/Overlay.h"

#include <gtest/gtest.h>

#include "OverlayFixture.h"
#include "config/Config.h"

namespace velvox::testing {
namespace {

constexpr double kTick = 1.0 / 30;

// ---- building the panel and the logo ----

TEST_F(OverlayTest, PanelIsBuiltOnceAndTheLogoReadOnce) {
    overlay->update(OverlayState::thinking());
    EXPECT_TRUE(panels->calls.empty()) << "update before the first show must not build anything";

    showSettled(OverlayState::listening());
    overlay->hide();
    queue->advance(0);
    showSettled(OverlayState::thinking());

    EXPECT_EQ(panels->calls, std::vector<std::string>{"createPanel 132x40"});
    EXPECT_EQ(graphics->calls, std::vector<std::string>{"loadImage " + Paths::logoURL()});
    EXPECT_EQ(countLogged("no logo loaded from " + Paths::logoURL()), 1u);
}

TEST_F(OverlayTest, LogoMakesTheWiderPillAndIsDrawn) {
    graphics->images[Paths::logoURL()] = {64, 64};
    showSettled(OverlayState::listening());
    EXPECT_EQ(panels->calls, std::vector<std::string>{"createPanel 172x40"});
    EXPECT_EQ(countLogged("logo loaded from " + Paths::logoURL()), 1u);

    FakeCanvas canvas;
    panel().draw(canvas);
    EXPECT_EQ(canvas.operationsOfKind("drawImage").size(), 1u);
}

TEST_F(OverlayTest, NoPanelFromTheDesktopMeansNothingHappens) {
    panels->refuse = true;
    overlay->show(OverlayState::listening());
    overlay->update(OverlayState::thinking());
    overlay->hide();
    queue->advance(1);
    EXPECT_FALSE(overlay->isInUseForTesting());
    EXPECT_EQ(queue->pendingTimers(), 0u);
}

// ---- showing, fading and the pending hide ----

TEST_F(OverlayTest, ShowFadesInFromTransparentAndStartsTheMeter) {
    overlay->show(OverlayState::listening());
    EXPECT_EQ(panel().takeCalls(),
              (std::vector<std::string>{"setOrigin 894,944", "setAlpha 0", "orderFront",
                                        "animateAlpha 1 over 0.12"}));
    EXPECT_TRUE(overlay->isInUseForTesting());

    // Shown again while visible: no jump back to transparent.
    panel().finishAnimations();
    overlay->show(OverlayState::listening());
    EXPECT_EQ(countCalls(panel().takeCalls(), "setAlpha"), 0u);
}

TEST_F(OverlayTest, HideFadesOutThenOrdersOut) {
    showSettled(OverlayState::listening());
    overlay->hide(2.2);
    queue->advance(2.1);
    EXPECT_TRUE(overlay->isInUseForTesting());
    queue->advance(0.1);
    EXPECT_FALSE(overlay->isInUseForTesting());
    EXPECT_EQ(panel().animations.size(), 1u);
    EXPECT_EQ(panel().calls.back(), "animateAlpha 0 over 0.16");
    EXPECT_TRUE(panel().visible);

    panel().finishAnimations();
    EXPECT_FALSE(panel().visible);
    EXPECT_EQ(queue->pendingTimers(), 0u) << "the meter must stop with the pill";
}

TEST_F(OverlayTest, ShowDuringTheFadeWins) {
    showSettled(OverlayState::listening());
    overlay->hide();
    queue->advance(0);
    overlay->show(OverlayState::error("Microphone stopped"));
    // The fade-out completes after the new show began: it must not order the panel out.
    panel().finishAnimations();
    EXPECT_TRUE(panel().visible);
    EXPECT_EQ(countCalls(panel().calls, "orderOut"), 0u);
    EXPECT_TRUE(overlay->isInUseForTesting());
}

TEST_F(OverlayTest, ShowCancelsAPendingHide) {
    showSettled(OverlayState::listening());
    overlay->hide(2.2);
    queue->advance(1);
    showSettled(OverlayState::thinking());
    queue->advance(5);
    EXPECT_TRUE(panel().visible);
    EXPECT_TRUE(overlay->isInUseForTesting());
    EXPECT_EQ(countCalls(panel().calls, "animateAlpha 0"), 0u);
}

TEST_F(OverlayTest, QuickShowHideSequenceEndsInTheLastRequest) {
    for (int round = 0; round < 5; ++round) {
        overlay->show(OverlayState::listening());
        overlay->hide();
    }
    overlay->show(OverlayState::thinking());
    queue->advance(1);
    panel().finishAnimations();
    EXPECT_TRUE(panel().visible);
    EXPECT_EQ(panel().currentAlpha, 1);
    EXPECT_EQ(countCalls(panel().calls, "animateAlpha 0"), 0u);
    EXPECT_EQ(overlay->viewForTesting()->state, OverlayState::thinking());

    overlay->hide();
    overlay->show(OverlayState::listening());
    overlay->hide();
    queue->advance(1);
    panel().finishAnimations();
    EXPECT_FALSE(panel().visible);
}

TEST_F(OverlayTest, HideRightAfterShowLeavesTheVisibilityCheckIdle) {
    overlay->show(OverlayState::listening());
    overlay->hide(0);
    queue->advance(0);
    panel().finishAnimations();
    queue->advance(0.5);
    EXPECT_FALSE(panel().visible);
    EXPECT_EQ(countLogged("pill was not visible, forcing it front"), 0u);
}

TEST_F(OverlayTest, PillTheDesktopDidNotShowIsForcedFront) {
    overlay->show(OverlayState::listening());
    panel().finishAnimations();
    queue->advance(0.3);
    EXPECT_EQ(countLogged("pill was not visible, forcing it front"), 0u);

    // The window manager ignored the request to show it.
    panel().visible = false;
    panel().refusesToShow = true;
    showSettled(OverlayState::listening());
    queue->advance(0.3);
    EXPECT_EQ(countLogged("pill was not visible, forcing it front"), 1u);
    panel().refusesToShow = false;

    // A fade-in that never ran leaves the pill transparent.
    panel().visible = false;
    overlay->show(OverlayState::listening());
    panel().takeCalls();
    queue->advance(0.29);
    EXPECT_EQ(countLogged("pill was not visible, forcing it front"), 1u);
    queue->advance(0.01);
    EXPECT_EQ(countLogged("pill was not visible, forcing it front"), 2u);
    auto calls = panel().takeCalls();
    EXPECT_EQ(countCalls(calls, "setAlpha 1"), 1u);
    EXPECT_EQ(countCalls(calls, "orderFront"), 1u);
}

TEST_F(OverlayTest, UpdateChangesOnlyTheDrawing) {
    showSettled(OverlayState::listening(), [] { return 0.5; });
    panel().takeCalls();
    int redraws = panel().needsDisplayCount;
    double phase = overlay->viewForTesting()->phase;

    overlay->update(OverlayState::thinking());
    EXPECT_TRUE(panel().takeCalls().empty());
    EXPECT_EQ(panel().needsDisplayCount, redraws + 1);
    EXPECT_EQ(overlay->viewForTesting()->state, OverlayState::thinking());

    queue->advance(kTick * 3);
    EXPECT_GT(overlay->viewForTesting()->phase, phase) << "the dots must keep moving";
}

// ---- widths ----

class OverlayWidthTest : public OverlayTest {
  protected:
    double widthAfterShowing(const OverlayState& state) {
        overlay->show(state);
        return panel().size.width;
    }
};

TEST_F(OverlayWidthTest, LabelWidensThePillByItsRoundedWidth) {
    EXPECT_EQ(widthAfterShowing(OverlayState::listening()), 132);
    EXPECT_EQ(countCalls(panel().calls, "setContentSize"), 0u);
    // "Email": 5 characters of 6 points.
    EXPECT_EQ(widthAfterShowing(OverlayState::listening("Email")), 132 + 30 + 8);
    graphics->metrics.characterWidth = 6.1;
    EXPECT_EQ(widthAfterShowing(OverlayState::listening("Email")), 132 + 31 + 8);
}

TEST_F(OverlayWidthTest, MessageWidthHasAFloorAndACeiling) {
    EXPECT_EQ(widthAfterShowing(OverlayState::error("Oops")), 132);
    // 20 characters: 28 + 120 + 28.
    EXPECT_EQ(widthAfterShowing(OverlayState::error(std::string(20, 'x'))), 176);
    EXPECT_EQ(widthAfterShowing(OverlayState::error(std::string(100, 'x'))), 520);
    EXPECT_EQ(panel().size.height, 40);
}

TEST_F(OverlayWidthTest, LogoWidensTheBaseAndThePadding) {
    graphics->images[Paths::logoURL()] = {64, 64};
    EXPECT_EQ(widthAfterShowing(OverlayState::error("Oops")), 172);
    EXPECT_EQ(widthAfterShowing(OverlayState::error(std::string(20, 'x'))), 62 + 120 + 28);
    EXPECT_EQ(widthAfterShowing(OverlayState::listening("Email")), 172 + 30 + 8);
}

TEST_F(OverlayWidthTest, TinyDifferencesDoNotResizeTheWindow) {
    overlay->show(OverlayState::listening());
    panel().size.width = 132.4;
    overlay->show(OverlayState::listening());
    EXPECT_EQ(countCalls(panel().calls, "setContentSize"), 0u);
    panel().size.width = 132.6;
    overlay->show(OverlayState::listening());
    EXPECT_EQ(countCalls(panel().calls, "setContentSize"), 1u);
}

// ---- the level history ----

TEST_F(OverlayTest, LevelsScrollThirtyTimesASecondWithAFloor) {
    std::vector<double> answers = {0.5, 0, 0.9, -1};
    size_t next = 0;
    showSettled(OverlayState::listening(), [&] { return answers[next++ % answers.size()]; });
    const auto& levels = overlay->viewForTesting()->levels;

    queue->advance(kTick * 4 + 0.001);
    EXPECT_EQ(next, 4u);
    std::vector<double> newest(levels.end() - 5, levels.end());
    EXPECT_EQ(newest, (std::vector<double>{0.05, 0.5, 0.05, 0.9, 0.05}));

    queue->advance(1);
    EXPECT_EQ(next, 34u);
    EXPECT_EQ(levels.size(), 16u);
    // Answers 31 to 34, oldest first.
    std::vector<double> lastFour(levels.end() - 4, levels.end());
    EXPECT_EQ(lastFour, (std::vector<double>{0.9, 0.05, 0.5, 0.05}));
}

TEST_F(OverlayTest, MessageWithoutProviderKeepsTheLevelsButAnimates) {
    showSettled(OverlayState::error("Heard nothing"));
    int redraws = panel().needsDisplayCount;
    queue->advance(kTick * 3 + 0.001);
    for (double level : overlay->viewForTesting()->levels) EXPECT_EQ(level, 0.05);
    EXPECT_NEAR(overlay->viewForTesting()->phase, 0.84, 1e-9);
    EXPECT_EQ(panel().needsDisplayCount, redraws + 3);
}

TEST_F(OverlayTest, DroppedOverlayStopsItsTimersAndObserver) {
    showSettled(OverlayState::listening(), [] { return 0.5; });
    overlay->hide(2);
    EXPECT_EQ(screens->liveObservers(), 1u);
    overlay.reset();
    EXPECT_EQ(queue->pendingTimers(), 0u);
    EXPECT_EQ(screens->liveObservers(), 0u);
    queue->advance(3);
}

}  // namespace
}  // namespace velvox::testing

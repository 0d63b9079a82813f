#include "feedback/OverlayView.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fakes/FakeCanvas.h"
#include "platform/Canvas.h"
#include "support/TempHome.h"

namespace velvox::testing {
namespace {

constexpr Rect kPlainPill{0, 0, 132, 40};

class OverlayViewTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installGraphics(std::make_shared<FakeGraphics>());
    }
    std::vector<FakeCanvas::Operation> draw(const Rect& bounds = kPlainPill) {
        canvas.clear();
        view.draw(canvas, bounds);
        return canvas.operations;
    }
    // The meter's bars: every filled rounded rectangle after the pill's own fill.
    std::vector<FakeCanvas::Operation> bars(const Rect& bounds = kPlainPill) {
        draw(bounds);
        auto fills = canvas.operationsOfKind("fillRoundedRect");
        if (!view.onGlass && !fills.empty()) fills.erase(fills.begin());
        return fills;
    }

    OverlayView view;
    FakeCanvas canvas;
};

TEST_F(OverlayViewTest, PillIsADarkCapsuleWithAFaintEdge) {
    auto operations = draw();
    ASSERT_GE(operations.size(), 2u);
    EXPECT_EQ(canvas.lines[0], "fillRoundedRect (0.5,0.5 131x39) r19.5 rgba(0,0,0,0.55)");
    EXPECT_EQ(canvas.lines[1], "strokeRoundedRect (0.5,0.5 131x39) r19.5 rgba(1,1,1,0.08)");
    EXPECT_EQ(operations[1].lineWidth, 1);

    view.onGlass = true;
    draw();
    EXPECT_EQ(canvas.lines[0], "strokeRoundedRect (0.5,0.5 131x39) r19.5 rgba(1,1,1,0.08)");
}

TEST_F(OverlayViewTest, BarHeightsFollowLevelsUnderTheEnvelope) {
    view.levels.fill(1);
    auto full = bars();
    ASSERT_EQ(full.size(), 16u);
    // The outer bars are cut by the envelope: 0.4, 0.6, 0.8 of the 22-point maximum.
    EXPECT_NEAR(full[0].rect.height, 8.8, 1e-9);
    EXPECT_NEAR(full[1].rect.height, 13.2, 1e-9);
    EXPECT_NEAR(full[2].rect.height, 17.6, 1e-9);
    EXPECT_NEAR(full[3].rect.height, 22, 1e-9);
    EXPECT_NEAR(full[12].rect.height, 22, 1e-9);
    EXPECT_NEAR(full[15].rect.height, 8.8, 1e-9);
    // Left to right, 5.8 apart, the row centred in the pill, each bar centred vertically.
    EXPECT_NEAR(full[0].rect.x, 21.2, 1e-9);
    EXPECT_NEAR(full[15].rect.x, 21.2 + 15 * 5.8, 1e-9);
    EXPECT_NEAR(full[0].rect.y, 20 - 4.4, 1e-9);
    EXPECT_EQ(full[0].rect.width, 2.6);
    EXPECT_EQ(full[0].radius, 1.3);
    EXPECT_EQ(full[7].colour.alpha, 1);

    view.levels.fill(OverlayView::kMinimumLevel);
    view.levels[7] = 0.5;
    auto quiet = bars();
    EXPECT_EQ(quiet[0].rect.height, 2.6) << "a resting bar keeps its minimum height";
    EXPECT_NEAR(quiet[7].rect.height, 11, 1e-9);
    EXPECT_NEAR(quiet[7].colour.alpha, 0.95, 1e-9);
    EXPECT_NEAR(quiet[0].colour.alpha, 0.545, 1e-9);
    EXPECT_EQ(quiet[7].colour.red, Brand::plainAccent.red);
}

TEST_F(OverlayViewTest, NewestLevelIsTheRightmostBar) {
    view.tick(1.0);
    auto drawn = bars();
    EXPECT_NEAR(drawn[15].rect.height, 8.8, 1e-9);
    EXPECT_EQ(drawn[14].rect.height, 2.6);

    // A broken meter (NaN) reads as silence, a negative one as the floor.
    view.tick(std::nan(""));
    view.tick(-3);
    EXPECT_EQ(view.levels[15], OverlayView::kMinimumLevel);
    EXPECT_EQ(view.levels[14], OverlayView::kMinimumLevel);
    EXPECT_EQ(view.levels[13], 1.0);
}

TEST_F(OverlayViewTest, LabelSitsRightOfANarrowerMeterInTheAccent) {
    view.state = OverlayState::listening("Email");
    view.accent = Brand::boostAccent;
    view.levels.fill(1);
    // 132 + 30 + 8 wide: content 14...156, meter 14...118, label 126...156.
    Rect pill{0, 0, 170, 40};
    auto drawn = bars(pill);
    EXPECT_NEAR(drawn[0].rect.x, 66 - 44.8, 1e-9);
    auto texts = canvas.operationsOfKind("drawText");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, "Email");
    EXPECT_EQ(texts[0].rect.x, 126);
    EXPECT_EQ(texts[0].rect.y, 13);
    EXPECT_EQ(texts[0].colour.red, Brand::boostAccent.red);
    EXPECT_EQ(texts[0].font.size, 11.5);
    EXPECT_EQ(texts[0].font.weight, FontWeight::medium);
}

TEST_F(OverlayViewTest, MessageIsLightRedCentredButNeverLeftOfTheContent) {
    view.state = OverlayState::error("Oops");
    draw();
    auto texts = canvas.operationsOfKind("drawText");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(canvas.lines.back(), "drawText (54,13 24x14) \"Oops\" rgba(1,0.42,0.42,1)");
    EXPECT_TRUE(canvas.operationsOfKind("fillEllipse").empty());
    EXPECT_EQ(canvas.operationsOfKind("fillRoundedRect").size(), 1u) << "no meter with a message";

    view.state = OverlayState::error(std::string(100, 'x'));
    draw({0, 0, 520, 40});
    EXPECT_EQ(canvas.operationsOfKind("drawText")[0].rect.x, 14);
}

TEST_F(OverlayViewTest, ThinkingDotsPulseElevenPointsApart) {
    view.state = OverlayState::thinking();
    draw();
    auto dots = canvas.operationsOfKind("fillEllipse");
    ASSERT_EQ(dots.size(), 3u);
    // Phase 0: the first dot is half way through its pulse.
    EXPECT_NEAR(dots[0].rect.width, 4.3, 1e-9);
    EXPECT_NEAR(dots[0].rect.x, 52.85, 1e-9);
    EXPECT_NEAR(dots[0].colour.alpha, 0.65, 1e-9);
    for (int dot = 0; dot < 3; ++dot) {
        const Rect& rect = dots[dot].rect;
        EXPECT_NEAR(rect.midX(), 55 + 11 * dot, 1e-9);
        EXPECT_NEAR(rect.midY(), 20, 1e-9);
        EXPECT_EQ(rect.width, rect.height);
    }
    // Each dot trails the one before it.
    EXPECT_GT(dots[0].rect.width, dots[1].rect.width);
    EXPECT_GT(dots[1].rect.width, dots[2].rect.width);

    for (int step = 0; step < 6; ++step) view.tick(std::nullopt);
    draw();
    auto later = canvas.operationsOfKind("fillEllipse");
    EXPECT_NE(later[0].rect.width, dots[0].rect.width);
    EXPECT_LE(later[0].rect.width, 5);
    EXPECT_GE(later[0].rect.width, 3.6);
}

TEST_F(OverlayViewTest, LogoTakesTheLeftOfTheContent) {
    view.logo = std::make_shared<FakeImage>(Size{64, 64});
    view.levels.fill(1);
    Rect pill{0, 0, 172, 40};
    auto drawn = bars(pill);
    auto images = canvas.operationsOfKind("drawImage");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(formatRect(images[0].rect), "(14,10 20x20)");
    // Content 34...158: the meter centred on 96.
    EXPECT_NEAR(drawn[0].rect.x, 96 - 44.8, 1e-9);
}

}  // namespace
}  // namespace velvox::testing

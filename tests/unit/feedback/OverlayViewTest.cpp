#include "feedback/OverlayView.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fakes/FakeCanvas.h"
#include "feedback/BrandIcon.h"
#include "support/TempHome.h"

namespace velvox::testing {
namespace {

using Ops = std::vector<FakeCanvas::Operation>;
constexpr Rect kPill{0, 0, 132, 40};

bool inside(const Rect& inner, const Rect& outer) {
    return inner.minX() >= outer.minX() && inner.maxX() <= outer.maxX() &&
           inner.minY() >= outer.minY() && inner.maxY() <= outer.maxY();
}

// What a user sees of the pill's drawing, not its exact numbers.
class OverlayViewTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installGraphics(std::make_shared<FakeGraphics>());
    }
    Ops draw(const std::string& kind, const Rect& bounds = kPill) {
        canvas.clear();
        view.draw(canvas, bounds);
        return canvas.operationsOfKind(kind);
    }
    // The meter's bars: every filled rounded rectangle after the pill's own fill.
    Ops bars(const Rect& bounds = kPill) {
        Ops fills = draw("fillRoundedRect", bounds);
        if (!fills.empty()) fills.erase(fills.begin());
        return fills;
    }

    OverlayView view;
    FakeCanvas canvas;
};

TEST_F(OverlayViewTest, PillIsADarkTranslucentCapsuleExceptOnGlass) {
    Ops fill = draw("fillRoundedRect");
    ASSERT_FALSE(fill.empty());
    EXPECT_TRUE(inside(fill[0].rect, kPill));
    EXPECT_NEAR(fill[0].radius, fill[0].rect.height / 2, 1e-9);
    EXPECT_LT(fill[0].colour.red + fill[0].colour.alpha, 1);
    view.onGlass = true;
    EXPECT_EQ(draw("fillRoundedRect").size(), 16u)
        << "only the bars: the system draws the backdrop";
}

TEST_F(OverlayViewTest, BarsFollowTheLevelsNewestOnTheRightUnderAnEnvelope) {
    view.levels.fill(1);
    Ops full = bars();
    ASSERT_EQ(full.size(), OverlayView::kLevelCount);
    for (size_t i = 0; i < full.size(); ++i) {
        const Rect& bar = full[i].rect;
        EXPECT_TRUE(inside(bar, kPill.insetBy(view.inset, 0))) << i;
        EXPECT_NEAR(bar.midY(), kPill.midY(), 1e-9) << i;
        EXPECT_NEAR(bar.height, full[15 - i].rect.height, 1e-9) << "symmetric " << i;
        EXPECT_TRUE(i == 0 || bar.x > full[i - 1].rect.x) << i;
        EXPECT_TRUE(i == 0 || i > 3 || bar.height > full[i - 1].rect.height) << "the ends are cut";
    }
    EXPECT_NEAR(full[8].rect.midX() + full[7].rect.midX(), kPill.width, 1e-9) << "centred";
    // A louder level is a taller, brighter bar; a resting bar keeps a minimum height.
    view.levels.fill(OverlayView::kMinimumLevel);
    view.levels[7] = 0.5;
    Ops quiet = bars();
    EXPECT_GT(quiet[7].rect.height, quiet[6].rect.height);
    EXPECT_LT(quiet[7].rect.height, full[7].rect.height);
    EXPECT_GT(quiet[7].colour.alpha, quiet[6].colour.alpha);
    EXPECT_GT(quiet[0].rect.height, 0);
    EXPECT_EQ(quiet[7].colour.red, Brand::plainAccent.red);
    // The newest level is the rightmost bar; a broken (NaN) or negative reading is silence.
    view.tick(1.0);
    EXPECT_GT(bars()[15].rect.height, bars()[14].rect.height);
    view.tick(std::nan(""));
    view.tick(-3);
    EXPECT_EQ(view.levels[15], OverlayView::kMinimumLevel);
    EXPECT_EQ(view.levels[14], OverlayView::kMinimumLevel);
    EXPECT_EQ(view.levels[13], 1.0);
}

TEST_F(OverlayViewTest, LabelLogoMessageAndDotsTakeTheirPlaces) {
    // A label sits right of a narrower meter, in the accent colour.
    view.state = OverlayState::listening("Email");
    view.accent = Brand::boostAccent;
    Rect wide{0, 0, 170, 40};
    Ops meter = bars(wide);
    Ops label = canvas.operationsOfKind("drawText");
    ASSERT_EQ(label.size(), 1u);
    EXPECT_EQ(label[0].text, "Email");
    EXPECT_GT(label[0].rect.x, meter.back().rect.maxX());
    EXPECT_LE(label[0].rect.maxX(), wide.maxX() - view.inset);
    EXPECT_EQ(label[0].colour.red, Brand::boostAccent.red);
    // A logo takes the left of the content, before the meter.
    view.state = OverlayState::listening();
    view.logo = std::make_shared<FakeImage>(Size{64, 64});
    meter = bars({0, 0, 172, 40});
    Ops image = canvas.operationsOfKind("drawImage");
    ASSERT_EQ(image.size(), 1u);
    EXPECT_LT(image[0].rect.maxX(), meter.front().rect.x);
    EXPECT_GE(image[0].rect.x, view.inset);
    view.logo.reset();
    // A message is centred, reddish, without meter or dots, never left of the content.
    view.state = OverlayState::error("Oops");
    Ops message = draw("drawText");
    ASSERT_EQ(message.size(), 1u);
    EXPECT_NEAR(message[0].rect.midX(), kPill.midX(), 1e-9);
    EXPECT_GT(message[0].colour.red, message[0].colour.green);
    EXPECT_TRUE(bars().empty() && canvas.operationsOfKind("fillEllipse").empty());
    view.state = OverlayState::error(std::string(100, 'x'));
    EXPECT_EQ(draw("drawText", {0, 0, 520, 40})[0].rect.x, view.inset);
    // Thinking: three dots in a row, centred, each trailing the one before, pulsing.
    view.state = OverlayState::thinking();
    Ops dots = draw("fillEllipse");
    ASSERT_EQ(dots.size(), 3u);
    EXPECT_NEAR(dots[1].rect.midX(), kPill.midX(), 1e-9);
    for (int dot = 0; dot < 3; ++dot) EXPECT_NEAR(dots[dot].rect.midY(), kPill.midY(), 1e-9);
    EXPECT_NEAR(dots[2].rect.midX() - dots[1].rect.midX(),
                dots[1].rect.midX() - dots[0].rect.midX(), 1e-9);
    EXPECT_GT(dots[0].rect.width, dots[1].rect.width);
    EXPECT_GT(dots[1].rect.width, dots[2].rect.width);
    for (int step = 0; step < 6; ++step) view.tick(std::nullopt);
    EXPECT_NE(draw("fillEllipse")[0].rect.width, dots[0].rect.width);
}

TEST(BrandIconTest, RecordingMakesTheSameThreeCentredBarsTaller) {
    auto idle = Brand::menuBarIcon(false), recording = Brand::menuBarIcon(true);
    ASSERT_EQ(idle.shapes.size(), 3u);
    ASSERT_EQ(recording.shapes.size(), 3u);
    EXPECT_TRUE(idle.isTemplate && recording.isTemplate) << "the tray decides its colour";
    for (size_t bar = 0; bar < 3; ++bar) {
        const Rect &still = idle.shapes[bar].rect, &live = recording.shapes[bar].rect;
        EXPECT_EQ(live.x, still.x);
        EXPECT_GT(live.height, still.height);
        EXPECT_TRUE(inside(live, {0, 0, idle.size.width, idle.size.height}));
        EXPECT_EQ(still.midY() + live.midY(), idle.size.height);
    }
}

}  // namespace
}  // namespace velvox::testing

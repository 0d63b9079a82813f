#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "OverlayFixture.h"

namespace velvox::testing {
namespace {

// Two monitors side by side: a laptop and a taller external one to its right
// whose work area starts below a 32-point bar.
constexpr Screen kExternal{{1920, 0, 2560, 1440}, {1920, 32, 2560, 1408}};

class OverlayPlacementTest : public OverlayTest {
  protected:
    void SetUp() override {
        OverlayTest::SetUp();
        screens->all = {kLaptop, kExternal};
    }
    Point shownAt() {
        overlay->show(OverlayState::listening());
        return panel().origin;
    }
    void focusAt(std::optional<Point> element, std::optional<Point> window = std::nullopt) {
        accessibility->trusted = true;
        accessibility->field = FakeField{};
        accessibility->field->position = element;
        accessibility->field->windowPosition = window;
    }
};

TEST_F(OverlayPlacementTest, FocusedFieldBeatsTheMouse) {
    focusAt(Point{2500, 700});
    EXPECT_EQ(shownAt().x, 1920 + 1280 - 66);
    EXPECT_EQ(panel().origin.y, 1440 - 96 - 40);
    EXPECT_EQ(countLogged("pill at 3134, 1304 in screen 1920,32 2560x1408"), 1u);
    EXPECT_EQ(accessibility->calls[1], "focusedElement timeout 0.25");
    EXPECT_EQ(accessibility->calls[2], "element.setMessagingTimeout 0.25");
}

TEST_F(OverlayPlacementTest, FocusWithoutAUsablePositionFallsBackToItsWindowThenTheMouse) {
    focusAt(std::nullopt, Point{2000, 10});
    EXPECT_EQ(shownAt().x, 3134);

    double nan = std::numeric_limits<double>::quiet_NaN();
    focusAt(Point{nan, 700}, Point{2000, 10});
    EXPECT_EQ(shownAt().x, 3134);

    // Neither position lies on any screen: the mouse decides.
    focusAt(Point{-5000, 0}, Point{std::numeric_limits<double>::infinity(), 0});
    EXPECT_EQ(shownAt().x, 894);
}

TEST_F(OverlayPlacementTest, UntrustedProcessNeverAsksForTheFocus) {
    accessibility->field = FakeField{};
    accessibility->field->position = Point{2500, 700};
    screens->mouse = {2000, 1439.5};
    EXPECT_EQ(shownAt().x, 3134);
    EXPECT_EQ(accessibility->calls, std::vector<std::string>{"isProcessTrusted"});
}

TEST_F(OverlayPlacementTest, MouseOffEveryScreenUsesTheMainThenTheFirstScreen) {
    screens->mouse = {-10, -10};
    screens->main = kExternal;
    EXPECT_EQ(shownAt().x, 3134);
    screens->main.reset();
    EXPECT_EQ(shownAt().x, 894);
    // The far edge of a screen belongs to the next one.
    screens->mouse = {1920, 5};
    EXPECT_EQ(shownAt().x, 3134);
}

TEST_F(OverlayPlacementTest, NoScreensLeavesThePillWhereItIs) {
    screens->all.clear();
    overlay->show(OverlayState::listening());
    EXPECT_EQ(countCalls(panel().calls, "setOrigin"), 0u);
    EXPECT_EQ(countLogged("no screen found at all, leaving pill where it is"), 1u);
    EXPECT_TRUE(panel().visible);
}

TEST_F(OverlayPlacementTest, PillStaysInsideATinyWorkArea) {
    screens->all = {{{0, 0, 100, 100}, {0, 0, 100, 100}}};
    EXPECT_EQ(shownAt().x, 100 - 132 - 8);
    EXPECT_EQ(panel().origin.y, 8);
    screens->all = {{{0, 0, 2000, 2000}, {0, 0, 2000, 2000}}};
    // Only lifted: 96 above the bottom.
    EXPECT_EQ(shownAt().y, 2000 - 96 - 40);
}

TEST_F(OverlayPlacementTest, OriginIsRoundedButTheLogShowsIntegerParts) {
    screens->all = {{{0, 0, 1001, 801}, {0, 0, 1001, 800.7}}};
    Point origin = shownAt();
    // x = 500.5 - 66 = 434.5 (a half rounds away from zero); y = 800.7 - 96 - 40 = 664.7.
    EXPECT_EQ(origin.x, 435);
    EXPECT_EQ(origin.y, 665);
    EXPECT_EQ(countLogged("pill at 434, 664 in screen 0,0 1001x800"), 1u);
}

TEST_F(OverlayPlacementTest, ScreenChangesMoveOnlyAVisiblePill) {
    screens->announceChange();
    EXPECT_EQ(countLogged("screens changed, repositioning pill"), 0u);

    showSettled(OverlayState::listening());
    screens->all = {kExternal};
    screens->announceChange();
    EXPECT_EQ(countLogged("screens changed, repositioning pill"), 1u);
    EXPECT_EQ(panel().origin.x, 3134);

    overlay->hide();
    queue->advance(0);
    panel().finishAnimations();
    screens->announceChange();
    EXPECT_EQ(countLogged("screens changed, repositioning pill"), 1u);
}

}  // namespace
}  // namespace velvox::testing

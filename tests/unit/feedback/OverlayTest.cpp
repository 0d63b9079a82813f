#include "feedback/Overlay.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/Paths.h"
#include "fakes/FakeAccessibility.h"
#include "fakes/FakeCanvas.h"
#include "fakes/FakePanel.h"
#include "fakes/FakeScreens.h"
#include "feedback/OverlayView.h"
#include "support/TempHome.h"

namespace velvox::testing {
namespace {

using Strings = std::vector<std::string>;
constexpr double kTick = 1.0 / 30;
const std::string kForced = "pill was not visible, forcing it front";
// A laptop with a 40-point top bar and, to its right, a taller screen with a 32-point bar.
constexpr Screen kLaptop{{0, 0, 1920, 1080}, {0, 40, 1920, 1040}};
constexpr Screen kExternal{{1920, 0, 2560, 1440}, {1920, 32, 2560, 1408}};

// The mouse on the laptop, no logo, accessibility not trusted, a fresh overlay.
class OverlayTest : public TempHomeTest {
  public:
    void SetUp() override {
        TempHomeTest::SetUp();
        accessibility->trusted = false;
        screens->all = {kLaptop};
        screens->mouse = {500, 500};
        Platform::installPanels(panels);
        Platform::installScreens(screens);
        Platform::installGraphics(graphics);
        Platform::installAccessibility(accessibility);
        overlay = Overlay::create();
    }
    void TearDown() override {
        overlay.reset();
        TempHomeTest::TearDown();
    }
    FakePanel& panel() { return *panels->panel; }
    // Shows and lets the fade-in finish, as a running desktop would.
    void showSettled(const OverlayState& state, Overlay::LevelProvider provider = nullptr) {
        overlay->show(state, Overlay::plainAccent, std::move(provider));
        panel().finishAnimations();
    }
    void hideNow() {
        overlay->hide();
        queue->advance(0);
        panel().finishAnimations();
    }
    size_t logged(const std::string& message) const { return timesLogged(message, true); }
    static size_t count(const Strings& lines, const std::string& prefix) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.starts_with(prefix); });
    }
    std::shared_ptr<FakePanels> panels = std::make_shared<FakePanels>();
    std::shared_ptr<FakeScreens> screens = std::make_shared<FakeScreens>();
    std::shared_ptr<FakeGraphics> graphics = std::make_shared<FakeGraphics>();
    std::shared_ptr<FakeAccessibility> accessibility = std::make_shared<FakeAccessibility>();
    std::shared_ptr<Overlay> overlay;
};

TEST_F(OverlayTest, ShowBuildsOnceFadesInAndHideFadesOutThenOrdersOutAndNothingOutlivesThePill) {
    overlay->update(OverlayState::thinking());
    EXPECT_TRUE(panels->calls.empty()) << "update before the first show must not build anything";
    overlay->show(OverlayState::listening());
    EXPECT_EQ(panel().takeCalls(), (Strings{"setOrigin 894,944", "setAlpha 0", "orderFront",
                                            "animateAlpha 1 over 0.12"}));
    panel().finishAnimations();
    overlay->show(OverlayState::listening());
    EXPECT_EQ(count(panel().takeCalls(), "setAlpha"), 0u) << "no jump back to transparent";
    panel().finishAnimations();
    overlay->hide(2.2);
    queue->advance(2.1);
    EXPECT_TRUE(overlay->isInUseForTesting());
    queue->advance(0.1);
    EXPECT_FALSE(overlay->isInUseForTesting());
    EXPECT_EQ(panel().calls.back(), "animateAlpha 0 over 0.16");
    panel().finishAnimations();
    EXPECT_FALSE(panel().visible);
    EXPECT_EQ(queue->pendingTimers(), 0u) << "the meter must stop with the pill";
    // A dropped overlay stops its timers and screen observer; a refused panel leaves nothing on.
    showSettled(OverlayState::listening(), [] { return 0.5; });
    overlay->hide(2);
    EXPECT_EQ(screens->liveObservers(), 1u);
    EXPECT_EQ(panels->calls, Strings{"createPanel 132x40"}) << "one panel, built once";
    EXPECT_EQ(graphics->calls, Strings{"loadImage " + Paths::logoURL()});
    overlay.reset();
    EXPECT_EQ(queue->pendingTimers() + screens->liveObservers(), 0u);
    panels->refuse = true;
    overlay = Overlay::create();
    overlay->show(OverlayState::listening());
    overlay->update(OverlayState::thinking());
    overlay->hide();
    queue->advance(1);
    EXPECT_FALSE(overlay->isInUseForTesting());
    EXPECT_EQ(queue->pendingTimers(), 0u);
}

TEST_F(OverlayTest, TheLastRequestWinsAndAPillTheDesktopDidNotShowIsForcedFront) {
    // A show during the fade-out: the fade's end must not order the panel out.
    showSettled(OverlayState::listening());
    overlay->hide();
    queue->advance(0);
    overlay->show(OverlayState::error("Microphone stopped"));
    panel().finishAnimations();
    EXPECT_EQ(count(panel().takeCalls(), "orderOut"), 0u);
    // A show cancels a pending hide.
    overlay->hide(2.2);
    queue->advance(1);
    showSettled(OverlayState::thinking());
    queue->advance(5);
    EXPECT_TRUE(panel().visible && overlay->isInUseForTesting());
    EXPECT_EQ(count(panel().calls, "animateAlpha 0"), 0u);
    // A hide right after a show leaves the visibility check nothing to force.
    hideNow();
    overlay->show(OverlayState::listening());
    overlay->hide(0);
    queue->advance(1);
    panel().finishAnimations();
    EXPECT_FALSE(panel().visible);
    showSettled(OverlayState::listening());
    queue->advance(0.3);
    // A pill the window manager did not show, or left transparent, is forced front once, soon.
    for (bool refuses : {true, false}) {
        panel().visible = false;
        panel().refusesToShow = refuses;
        overlay->show(OverlayState::listening());
        if (refuses) panel().finishAnimations();
        panel().takeCalls();
        queue->advance(0.3);
        auto calls = panel().takeCalls();
        EXPECT_EQ(count(calls, "setAlpha 1") + count(calls, "orderFront"), 2u) << refuses;
    }
    EXPECT_EQ(logged(kForced), 2u);
}

// The meter reads its provider thirty times a second, below the floor as the floor; a message
// leaves the levels resting at the floor while the dots move. Each tick redraws.
TEST_F(OverlayTest, UpdateChangesOnlyTheDrawingAndTheTicksRedrawIt) {
    std::vector<double> answers = {0.5, 0, 0.9, -1};
    size_t next = 0;
    showSettled(OverlayState::listening(), [&] { return answers[next++ % answers.size()]; });
    const auto& levels = overlay->viewForTesting()->levels;
    queue->advance(kTick * 4 + 0.001);
    EXPECT_EQ(std::vector<double>(levels.end() - 5, levels.end()),
              (std::vector<double>{0.05, 0.5, 0.05, 0.9, 0.05}));
    queue->advance(1);
    EXPECT_EQ(next, 34u);
    showSettled(OverlayState::error("Heard nothing"));
    panel().takeCalls();
    int redraws = panel().needsDisplayCount;
    auto resting = levels;
    double phase = overlay->viewForTesting()->phase;
    overlay->update(OverlayState::thinking());
    EXPECT_TRUE(panel().takeCalls().empty());
    EXPECT_EQ(overlay->viewForTesting()->state, OverlayState::thinking());
    queue->advance(kTick * 3 + 0.001);
    EXPECT_EQ(levels, resting);
    EXPECT_NEAR(overlay->viewForTesting()->phase - phase, 0.84, 1e-9);
    EXPECT_EQ(panel().needsDisplayCount, redraws + 4);
}

// A label widens the pill by its rounded width and 8 points; a message is
// 28 points either side of its text, at least the plain pill, at most 520.
TEST_F(OverlayTest, PillWidthFollowsTheContent) {
    // clang-format off
    struct Case { bool logo; double characterWidth; OverlayState state; double width; } cases[] = {
        {false, 6, OverlayState::listening("Email"), 132 + 30 + 8},
        {false, 6.1, OverlayState::listening("Email"), 132 + 31 + 8},
        {false, 6, OverlayState::error(std::string(20, 'x')), 28 + 120 + 28},
        {false, 6, OverlayState::error(std::string(100, 'x')), 520},
        {true, 6, OverlayState::error(std::string(20, 'x')), 62 + 120 + 28},
        {true, 6, OverlayState::listening("Email"), 172 + 30 + 8},
    };
    // clang-format on
    for (const auto& c : cases) {
        overlay = Overlay::create();
        if (c.logo) graphics->images[Paths::logoURL()] = {64, 64};
        graphics->metrics.characterWidth = c.characterWidth;
        overlay->show(c.state);
        EXPECT_EQ(formatSize(panel().size), formatSize({c.width, 40}));
    }
    // Tiny differences do not resize the window.
    for (auto [width, resizes] : {std::pair{210.4, 0u}, {209.6, 0u}, {210.6, 1u}}) {
        panel().size.width = width;
        panel().takeCalls();
        overlay->show(OverlayState::listening("Email"));
        EXPECT_EQ(count(panel().calls, "setContentSize"), resizes) << width;
    }
}

// Over the focused field, else under the mouse, 96 points above the bottom of the work area.
TEST_F(OverlayTest, PlacementRoundsFollowsScreenChangesTheFocusAndTheMouse) {
    // A visible pill follows screen changes; without any screen it stays where it is.
    // x = 500.5 - 66 (a half rounds away from zero), y = 800.7 - 96 - 40.
    // A lone screen is taken without asking for the focus.
    screens->all = {{{0, 0, 1001, 801}, {0, 0, 1001, 800.7}}};
    accessibility->trusted = true;
    showSettled(OverlayState::listening());
    EXPECT_EQ(formatPoint(panel().origin), "435,665");
    EXPECT_TRUE(accessibility->calls.empty());
    screens->all = {kExternal};
    screens->announceChange();
    EXPECT_EQ(formatPoint(panel().origin), "3134,1304");
    hideNow();
    screens->announceChange();
    EXPECT_EQ(logged("screens changed, repositioning pill"), 1u);
    screens->all.clear();
    panel().takeCalls();
    overlay->show(OverlayState::listening());
    EXPECT_EQ(count(panel().calls, "setOrigin"), 0u);
    EXPECT_EQ(logged("no screen found at all, leaving pill where it is"), 1u);
    EXPECT_TRUE(panel().visible);
    // The focus's positions (trusted when either is set), the mouse, the main screen.
    // clang-format off
    struct Case { const char* name; std::optional<Point> field, window; Point mouse;
                  std::optional<Screen> main; const char* origin; } cases[] = {
        {"no field position: its window", {}, Point{2000, 10}, {500, 500}, {}, "3134,1304"},
        {"focus off-screen: mouse", Point{-5000, 0}, Point{NAN, 0}, {500, 500}, {}, "894,944"},
        {"mouse off every screen: the main screen", {}, {}, {-10, -10}, kExternal, "3134,1304"},
        {"then the first screen", {}, {}, {-10, -10}, {}, "894,944"},
        {"the far edge of a screen belongs to the next", {}, {}, {1920, 5}, {}, "3134,1304"},
        {"the focused field beats the mouse", Point{2500, 700}, {}, {500, 500}, {}, "3134,1304"},
    };
    // clang-format on
    screens->all = {kLaptop, kExternal};
    for (const auto& c : cases) {
        accessibility->trusted = c.field || c.window;
        accessibility->field = FakeField{.position = c.field, .windowPosition = c.window};
        accessibility->calls.clear();
        screens->mouse = c.mouse;
        screens->main = c.main;
        overlay->show(OverlayState::listening());
        EXPECT_EQ(formatPoint(panel().origin), c.origin) << c.name;
        // An untrusted process never asks for the focus.
        EXPECT_EQ(accessibility->calls.size() == 1, !accessibility->trusted) << c.name;
    }
    // The last case's questions: briefly, so a hung application costs no time.
    EXPECT_EQ(Strings(accessibility->calls.begin() + 1, accessibility->calls.begin() + 3),
              (Strings{"focusedElement timeout 0.25", "element.setMessagingTimeout 0.25"}));
}

// A message or the thinking dots sit centred in the pill (the meter's bars and the colours are
// looked at on a real desktop by the overlay's integration test).
TEST(OverlayViewTest, MessagesAndDotsAreCentredInThePill) {
    constexpr Rect kPill{0, 0, 172, 40};
    OverlayView view;
    for (auto [state, kind, drawn] : {std::tuple{OverlayState::thinking(), "fillEllipse", 3u},
                                      {OverlayState::error("Oops"), "drawText", 1u}}) {
        FakeCanvas canvas;
        view.state = state;
        view.draw(canvas, kPill);
        auto centred = canvas.operationsOfKind(kind);
        ASSERT_EQ(centred.size(), drawn) << kind;
        EXPECT_NEAR(centred[drawn / 2].rect.midX(), kPill.midX(), 1e-9) << kind;
    }
}

}  // namespace
}  // namespace velvox::testing

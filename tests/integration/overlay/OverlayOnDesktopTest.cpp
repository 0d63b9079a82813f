// The real pill on the headless desktop, drawn through GTK, cairo and Pango in
// front of another application's window that keeps the focus and the clicks.
#include <gtest/gtest.h>

#include <memory>

#include "fakes/FakeAccessibility.h"
#include "feedback/Overlay.h"
#include "platform/Platform.h"
#include "platform/linux/CairoCanvas.h"
#include "platform/linux/GlibMainQueue.h"
#include "platform/linux/GtkPanel.h"
#include "platform/linux/LinuxFeedback.h"
#include "support/TempHome.h"
// X11 last: its macros must not reach the headers above.
#include "DesktopProbe.h"

namespace velvox::testing {
namespace {

// Makes real panels and keeps the last one, so the test can look at its window.
class KeepingPanels final : public Panels {
  public:
    explicit KeepingPanels(std::shared_ptr<PangoText> text) : real_(std::move(text)) {}
    std::shared_ptr<Panel> createPanel(const Size& size) override {
        last = std::dynamic_pointer_cast<GtkPanel>(real_.createPanel(size));
        return last;
    }
    std::shared_ptr<GtkPanel> last;

  private:
    GtkPanels real_;
};

// The pale blue of the meter's bars at full level, the thinking dots' blue, the error's red.
bool isAccent(const Pixel& p) {
    return p.blue >= 200 && p.red >= 170 && p.red <= 235 && p.green >= 190 && p.blue >= p.red + 20;
}
bool isBluish(const Pixel& p) {
    return p.blue >= 80 && p.blue >= p.red + 12;
}
bool isErrorRed(const Pixel& p) {
    return p.red >= 180 && p.red >= p.green + 60 && p.red >= p.blue + 60;
}
bool isWhite(const Pixel& p) {
    return p.red == 255 && p.green == 255 && p.blue == 255;
}

class OverlayOnDesktopTest : public TempHomeTest {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }

    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
        auto accessibility = std::make_shared<FakeAccessibility>();
        accessibility->trusted = false;
        Platform::installAccessibility(accessibility);
        installLinuxFeedback();
        auto* graphics = dynamic_cast<CairoGraphics*>(&Platform::graphics());
        ASSERT_TRUE(graphics);
        panels = std::make_shared<KeepingPanels>(graphics->text());
        Platform::installPanels(panels);
        target = std::make_unique<TargetWindow>(560, 600, 800, 420);
        ASSERT_TRUE(target->focus());
        ASSERT_EQ(activeWindow(), target->window());
        focusBefore = inputFocus();
        ASSERT_TRUE(run("xdotool mousemove 200 200"));  // away from the pill
        overlay = Overlay::create();
        workArea = cardinals("_NET_WORKAREA");  // x, y, width, height
        ASSERT_GE(workArea.size(), 4u);
    }
    void TearDown() override {
        overlay.reset();
        target.reset();
        spinFor(std::chrono::milliseconds(30));
        TempHomeTest::TearDown();
    }

    GtkPanel& panel() { return *panels->last; }
    Window pillWindow() { return xidOf(panels->last->widget()); }

    // Waits until the pill is fully shown and drawn at least twice since now
    // (so the state set before the call is on screen); then where it is.
    WindowFacts settle() {
        EXPECT_TRUE(panels->last);
        if (!panels->last) return {};
        int before = panel().drawCountForTesting();
        EXPECT_TRUE(spinUntil([&] {
            return panel().alpha() == 1 && factsOf(pillWindow()).viewable &&
                   panel().drawCountForTesting() >= before + 2;
        }));
        spinFor(std::chrono::milliseconds(50));
        return factsOf(pillWindow());
    }

    // How many pixels of the pill pass the test, in columns [fromX, toX).
    int count(const WindowFacts& pill, bool (*test)(const Pixel&), int fromX = 0, int toX = -1) {
        Screenshot shot(pill);
        EXPECT_TRUE(shot.taken());
        int found = 0;
        for (int y = 0; y < pill.height; ++y)
            for (int x = fromX; x < (toX < 0 ? pill.width : toX); ++x) found += test(shot.at(x, y));
        return found;
    }

    // Centred in the work area, low in it, in front of the focused window
    // without having taken the focus: a dark capsule over the white window,
    // whose cut corners show that window.
    void expectPlacedAndPassive(const WindowFacts& pill) {
        EXPECT_NEAR(pill.x + pill.width / 2.0, workArea[0] + workArea[2] / 2.0, 1);
        EXPECT_GT(pill.y, workArea[1] + workArea[3] / 2);
        EXPECT_LE(pill.y + pill.height, workArea[1] + workArea[3]);
        EXPECT_TRUE(pill.overrideRedirect);
        EXPECT_EQ(activeWindow(), target->window());
        EXPECT_EQ(inputFocus(), focusBefore);
        Screenshot shot(pill);
        Pixel body = shot.at(7, pill.height / 2);
        EXPECT_LE(body.red, 90) << "dark fill in front of the window";
        EXPECT_NEAR(body.red, body.blue, 5);
        EXPECT_TRUE(isWhite(shot.at(0, 0)));
        EXPECT_TRUE(isWhite(shot.at(pill.width - 1, pill.height - 1)));
    }

    std::shared_ptr<KeepingPanels> panels;
    std::unique_ptr<TargetWindow> target;
    Window focusBefore = None;
    std::shared_ptr<Overlay> overlay;
    std::vector<long> workArea;
};

TEST_F(OverlayOnDesktopTest, ListeningThinkingAndAnErrorOnScreen) {
    int levelCalls = 0;
    overlay->show(OverlayState::listening(), Overlay::plainAccent, [&] {
        ++levelCalls;
        return 0.9;
    });
    ASSERT_TRUE(panels->last);
    // The whole history holds the loud level before the picture is taken.
    ASSERT_TRUE(spinUntil([&] { return levelCalls > 17; }));
    WindowFacts pill = settle();
    expectPlacedAndPassive(pill);
    EXPECT_GE(count(pill, isAccent), 40) << "the bars of a loud meter";
    EXPECT_EQ(count(pill, isErrorRed), 0);

    // A click on the pill reaches the window below it, which raised again
    // leaves the pill in front.
    int centreX = pill.x + pill.width / 2, centreY = pill.y + pill.height / 2;
    ASSERT_TRUE(run("xdotool mousemove " + std::to_string(centreX) + " " + std::to_string(centreY) +
                    " click 1"));
    ASSERT_TRUE(spinUntil([&] { return !target->presses().empty(); }));
    EXPECT_EQ(target->presses().front(), std::make_pair(centreX, centreY));
    ASSERT_TRUE(target->focus());
    ASSERT_TRUE(run("xdotool windowraise " + std::to_string(target->window())));
    XSync(xdisplay(), False);
    spinFor(std::chrono::milliseconds(50));
    EXPECT_GE(count(pill, isAccent), 40) << "still in front";

    // Thinking: the same place; dots in the middle, the bars at the sides gone.
    overlay->update(OverlayState::thinking());
    WindowFacts thinking = settle();
    EXPECT_EQ(std::make_pair(thinking.x, thinking.width), std::make_pair(pill.x, pill.width));
    int third = thinking.width / 3;
    EXPECT_GE(count(thinking, isBluish, third, 2 * third), 3);
    EXPECT_EQ(count(thinking, isBluish, 16, third - 6), 0);

    // An error: wider for its message, still centred, in red.
    overlay->show(OverlayState::error("Microphone unavailable"));
    WindowFacts error = settle();
    EXPECT_GT(error.width, pill.width);
    EXPECT_EQ(error.y, pill.y);
    expectPlacedAndPassive(error);
    EXPECT_GE(count(error, isErrorRed), 30);
    EXPECT_EQ(count(error, isAccent), 0);

    // Gone after the fade, and the window below is untouched.
    overlay->hide(0);
    ASSERT_TRUE(spinUntil([&] { return !panel().isVisible(); }));
    EXPECT_FALSE(factsOf(pillWindow()).viewable);
    EXPECT_FALSE(overlay->isInUseForTesting());
    EXPECT_EQ(activeWindow(), target->window());
}

}  // namespace
}  // namespace velvox::testing

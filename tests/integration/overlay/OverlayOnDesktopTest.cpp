// The real pill on the headless desktop: the core's overlay drawing through
// GTK, cairo and Pango, placed from GDK's monitors, in front of another
// application's focused window that keeps both the focus and the clicks.
#include <gtest/gtest.h>

#include <cairo.h>

#include <filesystem>
#include <memory>

#include "base/Paths.h"
#include "config/Config.h"
#include "fakes/FakeAccessibility.h"
#include "feedback/Overlay.h"
#include "platform/Accessibility.h"
#include "platform/Platform.h"
#include "platform/linux/CairoCanvas.h"
#include "platform/linux/GdkScreens.h"
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
        auto panel = std::dynamic_pointer_cast<GtkPanel>(real_.createPanel(size));
        last = panel;
        return panel;
    }
    std::shared_ptr<GtkPanel> last;

  private:
    GtkPanels real_;
};

bool isAccent(const Pixel& p) {
    // Brand::plainAccent is (209, 229, 255); bars at full level are drawn opaque.
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
        // Away from where the pill will be; on the only screen.
        ASSERT_TRUE(run("xdotool mousemove 200 200"));
        overlay = Overlay::create();
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
    // (so the state set before the call is on screen).
    bool settle() {
        if (!panels->last) return false;
        int before = panel().drawCountForTesting();
        bool settled = spinUntil([&] {
            return panel().alpha() == 1 && factsOf(pillWindow()).viewable &&
                   panel().drawCountForTesting() >= before + 2;
        });
        spinFor(std::chrono::milliseconds(50));
        return settled;
    }

    // The pill, the window under it and a margin around.
    std::unique_ptr<Screenshot> shoot(const WindowFacts& pill) {
        constexpr int kMargin = 40;
        return std::make_unique<Screenshot>(pill.x - kMargin, pill.y - kMargin,
                                            pill.width + 2 * kMargin, pill.height + 2 * kMargin);
    }

    int count(const Screenshot& shot, const WindowFacts& pill, bool (*test)(const Pixel&),
              int fromX = 0, int toX = -1) {
        if (toX < 0) toX = pill.width;
        int found = 0;
        for (int y = 0; y < pill.height; ++y) {
            for (int x = fromX; x < toX; ++x) found += test(shot.at(pill.x + x, pill.y + y));
        }
        return found;
    }

    // The pill lies in front of the focused window without having taken the
    // focus, and lets clicks through to it.
    void expectPassive(const WindowFacts& pill) {
        EXPECT_TRUE(pill.overrideRedirect);
        EXPECT_GT(stackingIndexOf(pillWindow()), stackingIndexOf(target->window()));
        EXPECT_EQ(activeWindow(), target->window());
        EXPECT_EQ(inputFocus(), focusBefore);
    }

    // The pill's body is the dark fill, its corners are cut away to show the
    // white window below.
    void expectCapsule(const Screenshot& shot, const WindowFacts& pill) {
        Pixel body = shot.at(pill.x + 7, pill.y + pill.height / 2);
        EXPECT_LE(body.red, 90) << "dark fill";
        EXPECT_NEAR(body.red, body.green, 4);
        EXPECT_NEAR(body.green, body.blue, 5);
        if (panel().drawsOpaque()) {
            // The translucent fill darkens the solid backdrop.
            EXPECT_LT(body.red, GtkPanel::kOpaqueBackdrop.red * 255 - 15);
        }
        EXPECT_TRUE(isWhite(shot.at(pill.x, pill.y)));
        EXPECT_TRUE(isWhite(shot.at(pill.x + pill.width - 1, pill.y + pill.height - 1)));
        EXPECT_TRUE(isWhite(shot.at(pill.x - 2, pill.y + pill.height / 2)));
    }

    std::shared_ptr<KeepingPanels> panels;
    std::unique_ptr<TargetWindow> target;
    Window focusBefore = None;
    std::shared_ptr<Overlay> overlay;
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
    ASSERT_TRUE(settle());

    WindowFacts pill = factsOf(pillWindow());
    auto workArea = publishedWorkArea();
    ASSERT_TRUE(workArea);
    EXPECT_EQ(pill.width, 132);
    EXPECT_EQ(pill.height, 40);
    EXPECT_EQ(pill.x, workArea->x + (workArea->width - pill.width) / 2);
    EXPECT_EQ(pill.y, workArea->y + workArea->height - 96 - pill.height);
    expectPassive(pill);
    {
        auto shot = shoot(pill);
        ASSERT_TRUE(shot->taken());
        shot->save("pill-listening.png");
        expectCapsule(*shot, pill);
        EXPECT_GE(count(*shot, pill, isAccent), 40) << "the bars of a loud meter";
        EXPECT_EQ(count(*shot, pill, isErrorRed), 0);
    }

    // A click on the pill reaches the window below it.
    int centreX = pill.x + pill.width / 2, centreY = pill.y + pill.height / 2;
    ASSERT_TRUE(run("xdotool mousemove " + std::to_string(centreX) + " " + std::to_string(centreY) +
                    " click 1"));
    ASSERT_TRUE(spinUntil([&] { return !target->presses().empty(); }));
    EXPECT_EQ(target->presses().front(), std::make_pair(centreX, centreY));
    EXPECT_EQ(activeWindow(), target->window());
    // The window below raised again (clicked, activated): the pill stays in front.
    ASSERT_TRUE(target->focus());
    ASSERT_TRUE(run("xdotool windowraise " + std::to_string(target->window())));
    XSync(xdisplay(), False);
    spinFor(std::chrono::milliseconds(50));
    EXPECT_GT(stackingIndexOf(pillWindow()), stackingIndexOf(target->window()));

    overlay->update(OverlayState::thinking());
    ASSERT_TRUE(settle());
    WindowFacts thinking = factsOf(pillWindow());
    EXPECT_EQ(thinking.x, pill.x);
    EXPECT_EQ(thinking.width, pill.width);
    {
        auto shot = shoot(thinking);
        shot->save("pill-thinking.png");
        expectCapsule(*shot, thinking);
        // Dots in the middle, and the bars that reached out to the sides are gone.
        EXPECT_GE(count(*shot, thinking, isBluish, 50, 82), 3);
        EXPECT_EQ(count(*shot, thinking, isBluish, 16, 44), 0);
        EXPECT_EQ(count(*shot, thinking, isBluish, 88, 116), 0);
    }

    const std::string message = "Microphone unavailable";
    overlay->show(OverlayState::error(message));
    ASSERT_TRUE(settle());
    WindowFacts error = factsOf(pillWindow());
    EXPECT_GT(error.width, 132) << "widened for the message";
    EXPECT_EQ(error.x, workArea->x + (workArea->width - error.width) / 2);
    EXPECT_EQ(error.y, pill.y);
    expectPassive(error);
    {
        auto shot = shoot(error);
        shot->save("pill-error.png");
        expectCapsule(*shot, error);
        EXPECT_GE(count(*shot, error, isErrorRed), 30);
        EXPECT_EQ(count(*shot, error, isAccent), 0);
        // Measured before drawing as it is drawn: the text sits in the middle.
        int left = error.width, right = -1;
        for (int y = 0; y < error.height; ++y) {
            for (int x = 0; x < error.width; ++x) {
                if (!isErrorRed(shot->at(error.x + x, error.y + y))) continue;
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        ASSERT_GE(right, left);
        EXPECT_NEAR(left, error.width - 1 - right, 4);
        EXPECT_GE(left, 20);
    }

    // Gone after the fade, and the window below is untouched.
    overlay->hide(0);
    ASSERT_TRUE(spinUntil([&] { return !panel().isVisible(); }));
    EXPECT_FALSE(factsOf(pillWindow()).viewable);
    EXPECT_FALSE(overlay->isInUseForTesting());
    EXPECT_EQ(activeWindow(), target->window());
}

TEST_F(OverlayOnDesktopTest, FollowsTheWorkAreaWhenADesktopPanelAppears) {
    overlay->show(OverlayState::listening());
    ASSERT_TRUE(settle());
    auto before = publishedWorkArea();
    ASSERT_TRUE(before);
    EXPECT_EQ(factsOf(pillWindow()).y, before->y + before->height - 96 - 40);

    {
        BottomPanel bottom(60);
        ASSERT_TRUE(spinUntil([&] {
            auto now = publishedWorkArea();
            return now && now->height == before->height - 60;
        }));
        ASSERT_TRUE(spinUntil(
            [&] { return factsOf(pillWindow()).y == before->y + before->height - 60 - 96 - 40; }));
        EXPECT_EQ(factsOf(pillWindow()).x, before->x + (before->width - 132) / 2);
        expectPassive(factsOf(pillWindow()));
    }
    // The panel goes: the pill moves back down.
    ASSERT_TRUE(
        spinUntil([&] { return factsOf(pillWindow()).y == before->y + before->height - 96 - 40; }));
    auto messages = logMessages();
    EXPECT_GE(std::count(messages.begin(), messages.end(), "screens changed, repositioning pill"),
              2);
}

TEST_F(OverlayOnDesktopTest, TheUsersLogoIsDrawnAtTheLeftOfAWiderPill) {
    // A green square logo.
    std::filesystem::create_directories(Paths::dir());
    cairo_surface_t* logo = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
    cairo_t* cairo = cairo_create(logo);
    cairo_set_source_rgb(cairo, 0, 0.8, 0);
    cairo_paint(cairo);
    cairo_destroy(cairo);
    ASSERT_EQ(cairo_surface_write_to_png(logo, Paths::logoURL().c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(logo);

    overlay->show(OverlayState::listening());
    ASSERT_TRUE(settle());
    WindowFacts pill = factsOf(pillWindow());
    EXPECT_EQ(pill.width, 172);
    auto shot = shoot(pill);
    // The logo's square: 20 points, 14 from the left edge, centred in height.
    Pixel inLogo = shot->at(pill.x + 24, pill.y + 20);
    EXPECT_GE(inLogo.green, 180);
    EXPECT_LE(inLogo.red, 40);
    EXPECT_LE(inLogo.blue, 40);
    Pixel besideLogo = shot->at(pill.x + 24, pill.y + 5);
    EXPECT_LE(besideLogo.green, 90);
}

TEST_F(OverlayOnDesktopTest, InstallingTheFeedbackServicesGivesRealOnes) {
    installLinuxFeedback();
    EXPECT_TRUE(dynamic_cast<CairoGraphics*>(&Platform::graphics()));
    EXPECT_TRUE(dynamic_cast<GdkScreens*>(&Platform::screens()));
    auto made = Platform::panels().createPanel({132, 40});
    EXPECT_TRUE(std::dynamic_pointer_cast<GtkPanel>(made));
    EXPECT_FALSE(Platform::screens().screens().empty());
}

}  // namespace
}  // namespace velvox::testing

// The real pill on the headless desktop, drawn through GTK, cairo and Pango in
// front of another application's window that keeps the focus.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fakes/FakeAccessibility.h"
#include "feedback/Overlay.h"
#include "integration/DesktopTest.h"
#include "linux/LinuxFeedback.h"
#include "linux/draw/CairoCanvas.h"
#include "linux/gtk/GtkPanel.h"
#include "support/MainLoop.h"
#include "support/Shell.h"

// X11 last: its macros must not reach the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdkx.h>

namespace velvox::testing {
namespace {

const auto xdisplay = [] { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); };

struct WindowFacts {
    int x = 0, y = 0, width = 0, height = 0;  // on the root window
    bool viewable = false, overrideRedirect = false;
};

WindowFacts factsOf(Window window) {
    XSync(xdisplay(), False);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(xdisplay(), window, &attributes)) return {};
    WindowFacts facts{.width = attributes.width,
                      .height = attributes.height,
                      .viewable = attributes.map_state == IsViewable,
                      .overrideRedirect = bool(attributes.override_redirect)};
    Window child = None;
    XTranslateCoordinates(xdisplay(), window, DefaultRootWindow(xdisplay()), 0, 0, &facts.x,
                          &facts.y, &child);
    return facts;
}

// A window as xdotool names it: the window manager's active window, or the
// window with the input focus.
Window xdotoolWindow(const std::string& query) {
    return std::strtoul(outputOf("xdotool " + query).c_str(), nullptr, 10);
}

// How many pixels of the window's area of the screen, as it is shown now, pass the test.
using PixelTest = bool (*)(int red, int green, int blue);
int countOnScreen(const WindowFacts& area, PixelTest test) {
    XSync(xdisplay(), False);
    g_autoptr(GdkPixbuf) shot = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), area.x,
                                                           area.y, area.width, area.height);
    EXPECT_TRUE(shot) << "the screen could not be read";
    int count = 0;
    for (int y = 0; shot && y < area.height; ++y)
        for (int x = 0; x < area.width; ++x) {
            const guchar* p = gdk_pixbuf_get_pixels(shot) + y * gdk_pixbuf_get_rowstride(shot) +
                              x * gdk_pixbuf_get_n_channels(shot);
            count += test(p[0], p[1], p[2]);
        }
    return count;
}
// The pale blue of the meter's bars at full level, the error's red.
const PixelTest isAccent = [](int r, int g, int b) {
    return b >= 200 && r >= 170 && r <= 235 && g >= 190 && b >= r + 20;
};
const PixelTest isErrorRed = [](int r, int g, int b) {
    return r >= 180 && r >= g + 60 && r >= b + 60;
};

// Another application's plain white window, on a connection of its own,
// placed where the test wants it.
class TargetWindow {
  public:
    TargetWindow(int x, int y, int width, int height) : display_(XOpenDisplay(nullptr)) {
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y, width, height, 0,
                                      0, 0xFFFFFF);
        XSizeHints hints{USPosition | USSize, x, y, width, height};
        XSetWMNormalHints(display_, window_, &hints);
        XStoreName(display_, window_, "pill target");
        XMapWindow(display_, window_);
        XSync(display_, False);
    }
    ~TargetWindow() {
        XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    Window window() const { return window_; }

    bool focus() {
        return shell(
            "xdotool search --sync --name '^pill target$' "
            "windowactivate --sync windowfocus --sync");
    }

  private:
    Display* display_;
    Window window_ = None;
};

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

class OverlayOnDesktopTest : public DesktopTest {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }

    void SetUp() override {
        DesktopTest::SetUp();
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
        ASSERT_EQ(xdotoolWindow("getactivewindow"), target->window());
        focusBefore = xdotoolWindow("getwindowfocus -f");
        ASSERT_TRUE(shell("xdotool mousemove 200 200"));  // away from the pill
        overlay = Overlay::create();
        // x, y, width, height of the first desktop's work area.
        std::string area = outputOf("xprop -root -notype _NET_WORKAREA");
        ASSERT_EQ(std::sscanf(area.c_str(), "_NET_WORKAREA = %ld, %ld, %ld, %ld", &workArea[0],
                              &workArea[1], &workArea[2], &workArea[3]),
                  4)
            << area;
    }
    void TearDown() override {
        overlay.reset();
        target.reset();
        spinFor(std::chrono::milliseconds(30));
        DesktopTest::TearDown();
    }

    GtkPanel& panel() { return *panels->last; }
    Window pillWindow() { return gdk_x11_window_get_xid(gtk_widget_get_window(panel().widget())); }

    // Waits until the pill is fully shown and drawn at least twice since now
    // (so the state set before the call is on screen). Then it must be centred
    // in the work area, low in it, in front of the focused window without
    // having taken the focus.
    WindowFacts settledInPlace() {
        EXPECT_TRUE(panels->last);
        if (!panels->last) return {};
        int before = panel().drawCountForTesting();
        EXPECT_TRUE(spinUntil([&] {
            return panel().alpha() == 1 && factsOf(pillWindow()).viewable &&
                   panel().drawCountForTesting() >= before + 2;
        }));
        spinFor(std::chrono::milliseconds(50));
        WindowFacts pill = factsOf(pillWindow());
        EXPECT_NEAR(pill.x + pill.width / 2.0, workArea[0] + workArea[2] / 2.0, 1);
        EXPECT_GT(pill.y, workArea[1] + workArea[3] / 2);
        EXPECT_LE(pill.y + pill.height, workArea[1] + workArea[3]);
        EXPECT_TRUE(pill.overrideRedirect);
        EXPECT_EQ(xdotoolWindow("getactivewindow"), target->window());
        EXPECT_EQ(xdotoolWindow("getwindowfocus -f"), focusBefore);
        return pill;
    }

    std::shared_ptr<KeepingPanels> panels;
    std::unique_ptr<TargetWindow> target;
    Window focusBefore = None;
    std::shared_ptr<Overlay> overlay;
    long workArea[4] = {};
};

TEST_F(OverlayOnDesktopTest, ListeningAndAnErrorOnScreen) {
    int levelCalls = 0;
    overlay->show(OverlayState::listening(), Overlay::plainAccent,
                  [&] { return ++levelCalls, 0.9; });
    ASSERT_TRUE(panels->last);
    // The whole history holds the loud level before the picture is taken.
    ASSERT_TRUE(spinUntil([&] { return levelCalls > 17; }));
    WindowFacts pill = settledInPlace();
    EXPECT_GE(countOnScreen(pill, isAccent), 40) << "the bars of a loud meter";
    EXPECT_EQ(countOnScreen(pill, isErrorRed), 0);
    // An error: wider for its message, at the same height, in red.
    overlay->show(OverlayState::error("Microphone unavailable"));
    WindowFacts error = settledInPlace();
    EXPECT_GT(error.width, pill.width);
    EXPECT_EQ(error.y, pill.y);
    EXPECT_GE(countOnScreen(error, isErrorRed), 30);
    EXPECT_EQ(countOnScreen(error, isAccent), 0);
    // Gone after the fade, and the window below is untouched.
    overlay->hide(0);
    ASSERT_TRUE(spinUntil([&] { return !panel().isVisible(); }));
    EXPECT_FALSE(factsOf(pillWindow()).viewable);
    EXPECT_EQ(xdotoolWindow("getactivewindow"), target->window());
}

}  // namespace
}  // namespace velvox::testing
